// The converter's primitives, a table each: variable-length numbers as written, the byte order of
// chunk lengths, and the channel-message parser with the trace it prints. Reading numbers is
// proven end to end.
#include <gtest/gtest.h>

#include "midi_struct.h"
#include "midiparse.h"
#include "misc.h"
#include "support.h"
#include "trace.h"

namespace {

TEST(Primitives, VariableLengthNumbers) {
    const std::pair<std::uint32_t, std::string> rows[] = {
        {0x00000000, "00"},         {0x0000007F, "7F"},          {0x00000080, "81 00"},
        {0x00000087, "81 07"},      {0x00003FFF, "FF 7F"},       {0x00004000, "81 80 00"},
        {0x001FFFFF, "FF FF 7F"},   {0x00200000, "81 80 80 00"}, {0x08000000, "C0 80 80 00"},
        {0x0FFFFFFF, "FF FF FF 7F"}};
    for (const auto& [value, encoding] : rows) {
        std::uint8_t bytes[4] = {}, length = 0;
        convertSizeToVariableLength(value, bytes, &length);
        EXPECT_EQ(Bytes(bytes, bytes + length), hex(encoding)) << value;
    }
}

TEST(Primitives, ByteOrder) {
    const std::uint32_t rows[][2] = {
        {0x12345678, 0x78563412}, {0x000000FF, 0xFF000000}, {0xFFFFFFFE, 0xFEFFFFFF}, {0, 0}};
    for (const auto& [host, stored] : rows)
        EXPECT_EQ(convEndianU32(host), stored);
}

// Per byte, whether it completed a message. The parser's state carries over from one row to the
// next, as it does from one event and one track to the next.
TEST(Primitives, ChannelMessageParser) {
    const std::string rows[][3] = {
        {"3C 40  # data before any status", "00", ""},
        {"90 3C 64 3E 64  # note on, again in running status", "00101", "NOTE ON\nNOTE ON\n"},
        {"C0 05 07 D0 30  # one data byte", "01101", "PROG\nPROG\nPRESSURE\n"},
        {"A0 3C 40 3D 41 E0 00 40", "00101001", "POLY PRESSURE\nPOLY PRESSURE\nPBEND\n"},
        {"90 3C F8 64 FE 3E 64  # real-time bytes", "0001001", "NOTE ON\nNOTE ON\n"},
        {"F0 43 10 F7 10 20 F7 3C 40  # F0 ... F7, F7 alone", "000001000", "midi-sysex\n"},
        {"90 3C B0 07 64 F4 F5 80 F9 3C FD 40", "000010000001", "CC\nNOTE OFF\n"}};
    setUpTrace(TRACE_EVENTS);
    for (const auto& [bytes, completes, trace] : rows) {
        std::string completed;
        testing::internal::CaptureStdout();
        for (const std::uint8_t byte : hex(bytes))
            completed += midiEventIsGenerated(byte) ? '1' : '0';
        flushTrace();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), trace) << bytes;
        EXPECT_EQ(completed, completes) << bytes;
    }
}

}  // namespace
