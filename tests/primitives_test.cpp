// The converter's primitives, table by table: variable-length numbers both ways, the byte order
// of chunk lengths, and the channel-message parser.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "midi_struct.h"
#include "midiparse.h"
#include "misc.h"
#include "support.h"

namespace {

struct NumberCase {
    std::uint32_t value;
    const char* encoding;
};

// The examples of the MIDI file standard, and the boundaries between byte counts.
constexpr NumberCase kNumbers[] = {
    {0x00000000, "00"},          {0x00000007, "07"},          {0x00000040, "40"},
    {0x0000007F, "7F"},          {0x00000080, "81 00"},       {0x00000087, "81 07"},
    {0x00002000, "C0 00"},       {0x00003FFF, "FF 7F"},       {0x00004000, "81 80 00"},
    {0x00100000, "C0 80 00"},    {0x001FFFFF, "FF FF 7F"},    {0x00200000, "81 80 80 00"},
    {0x08000000, "C0 80 80 00"}, {0x0FFFFFFF, "FF FF FF 7F"},
};

Bytes encode(std::uint32_t value) {
    std::uint8_t buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    std::uint8_t length = 0;
    convertSizeToVariableLength(value, buffer, &length);
    return Bytes(buffer, buffer + length);
}

// Opens the bytes as the converter's input, positioned at their start.
void openAsInput(const ScratchDir& dir, const Bytes& bytes) {
    const std::string path = dir.path("number.bin");
    writeFile(path, bytes);
    openInputFile(path.c_str());
    seekInput(0);
}

// Runs a reading that must end the run, and returns what it printed.
std::string outputOfFailedRead(const Bytes& bytes) {
    ScratchDir dir;
    const std::string trace = dir.path("trace.txt");
    EXPECT_EXIT(
        {
            std::freopen(trace.c_str(), "w", stdout);
            openAsInput(dir, bytes);
            VariableLengthInfo info{};
            readVariableLength(&info);
        },
        testing::ExitedWithCode(1), "");
    const Bytes printed = readFile(trace);
    return std::string(printed.begin(), printed.end());
}

TEST(VariableLength, EncodesTheStandardExamples) {
    for (const NumberCase& c : kNumbers) {
        EXPECT_EQ(hexString(encode(c.value)), c.encoding) << "value " << c.value;
    }
}

TEST(VariableLength, DecodesTheStandardExamples) {
    ScratchDir dir;
    for (const NumberCase& c : kNumbers) {
        // A byte after the number shows that the reader stops at its end.
        openAsInput(dir, concat({hexBytes(c.encoding), hexBytes("55")}));
        VariableLengthInfo info{};
        readVariableLength(&info);
        EXPECT_EQ(info.value, c.value) << c.encoding;
        EXPECT_EQ(info.byte_length, hexBytes(c.encoding).size()) << c.encoding;
        EXPECT_EQ(inputOffset(), hexBytes(c.encoding).size()) << c.encoding;
    }
}

TEST(VariableLength, RefusesANumberThatNeedsAFifthByte) {
    EXPECT_EQ(outputOfFailedRead(hexBytes("80 80 80 80 00")), "ERR\n");
}

TEST(VariableLength, RefusesTheEndOfInputInsideANumber) {
    for (const char* cut : {"", "81", "FF FF", "FF FF FF"}) {
        EXPECT_EQ(outputOfFailedRead(hexBytes(cut)), "unexpected end of file\nERR\n") << cut;
    }
}

TEST(VariableLength, RefusesToEncodeAValueOverFourBytes) {
    EXPECT_EXIT(
        {
            std::freopen("/dev/null", "w", stdout);
            encode(0x10000000);
        },
        testing::ExitedWithCode(1), "");
}

TEST(ByteOrder, ReversesTheFourBytes) {
    const std::uint32_t cases[][2] = {
        {0x00000000, 0x00000000}, {0x12345678, 0x78563412}, {0x000000FF, 0xFF000000},
        {0x1B000000, 0x0000001B}, {0xFFFFFFFE, 0xFEFFFFFF},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(convEndianU32(c[0]), c[1]);
        EXPECT_EQ(convEndianU32(c[1]), c[0]);
    }
}

struct ParserCase {
    const char* name;
    const char* bytes;
    const char* completes;  // per byte: 1 when that byte completed a message
    const char* trace;
};

constexpr ParserCase kParserCases[] = {
    {"note on, then running status", "90 3C 64 3E 64", "00101", "NOTE ON\nNOTE ON\n"},
    {"note off", "80 3C 00", "001", "NOTE OFF\n"},
    {"control change", "B0 07 64", "001", "CC\n"},
    {"pitch bend", "E0 00 40", "001", "PBEND\n"},
    {"program change runs on one byte", "C0 05 07 08", "0111", "PROG\nPROG\nPROG\n"},
    {"channel pressure runs on one byte", "D0 30 31", "011", "PRESSURE\nPRESSURE\n"},
    {"poly pressure, then running status", "A0 3C 40 3D 41", "00101",
     "POLY PRESSURE\nPOLY PRESSURE\n"},
    {"a clock byte inside a message changes nothing", "90 3C F8 64", "0001", "NOTE ON\n"},
    {"active sensing in running status", "90 3C 64 FE 3E 64", "001001", "NOTE ON\nNOTE ON\n"},
    {"a first data byte without status is ignored", "3C 40", "00", ""},
    {"system exclusive data completes nothing", "F0 43 10 F7", "0000", ""},
    {"data after F7 without F0 is ignored", "F7 3C 40", "000", ""},
    {"a new status abandons an unfinished message", "90 3C B0 07 64", "00001", "CC\n"},
    {"a new status after a completed one", "C0 05 90 3C 40", "01001", "PROG\nNOTE ON\n"},
    {"running status of a finished system exclusive", "F0 43 F7 10 20", "00001", "midi-sysex\n"},
    {"undefined system bytes change nothing", "F4 F5 90 F9 3C FD 40", "0000001", "NOTE ON\n"},
};

TEST(ChannelMessageParser, FollowsStatusAndRunningStatus) {
    for (const ParserCase& c : kParserCases) {
        analyzed_status = {START_ANALYSIS, MSG_NOTHING};
        std::string completes;
        testing::internal::CaptureStdout();
        for (const std::uint8_t byte : hexBytes(c.bytes)) {
            completes += midiEventIsGenerated(byte) ? '1' : '0';
        }
        flushTrace();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.trace) << c.name;
        EXPECT_EQ(completes, c.completes) << c.name;
    }
}

TEST(ChannelMessageParser, LeavesASystemExclusiveCompleteButUnreported) {
    analyzed_status = {START_ANALYSIS, MSG_NOTHING};
    for (const std::uint8_t byte : hexBytes("F0 43 10 F7"))
        midiEventIsGenerated(byte);
    EXPECT_EQ(analyzed_status.stat, END_ANALYSIS);
    EXPECT_EQ(analyzed_status.type, MSG_SYSEX);
}

}  // namespace
