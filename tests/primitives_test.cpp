// The converter's primitives, a table each: variable-length numbers as written, the byte order of
// chunk lengths, and the channel-message parser with the trace it prints. Reading numbers is
// proven end to end.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <fstream>
#include <map>

#include "case_folding.h"
#include "lyric2sysex.h"
#include "midi_struct.h"
#include "midiparse.h"
#include "misc.h"
#include "support.h"
#include "terminal_text.h"
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

bool appendTo(void* text, const char* piece, std::size_t size) {
    static_cast<std::string*>(text)->append(piece, size);
    return true;
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
    std::string traced;
    setUpTrace(TRACE_EVENTS, TextSink{&traced, appendTo}, nullptr, nullptr);
    for (const auto& [bytes, completes, trace] : rows) {
        std::string completed;
        for (const std::uint8_t byte : hex(bytes))
            completed += midiEventIsGenerated(byte) ? '1' : '0';
        flushTrace();
        EXPECT_EQ(std::exchange(traced, ""), trace) << bytes;
        EXPECT_EQ(completed, completes) << bytes;
    }
}

TEST(Primitives, TerminalText) {
    const std::tuple<const char*, bool, const char*> rows[] = {
        {"\xC2\x85\x80\x7F\xD8\x9C\xE2\x80\xAE\xE9\xFF\xF5\x80\x80\x80\xE2\x80\x8E", false,
         R"(\xC2\x85\x80\x7F\xD8\x9C\xE2\x80\xAE\xE9\xFF\xF5\x80\x80\x80\xE2\x80\x8E)"},
        {"\xE2\x81\xA6 \\ \xC0\xAF\xED\xA0\x80\xE2\x80\xAA\xF4\x90\x80\x80", false,
         R"(\xE2\x81\xA6 \ \xC0\xAF\xED\xA0\x80\xE2\x80\xAA\xF4\x90\x80\x80)"},
        {"\xE0\x9F\xBF\xE6\xC0\x80\xE6\xAD\xC0\xF0\x8F\xBF\xBF\xE6", false,
         R"(\xE0\x9F\xBF\xE6\xC0\x80\xE6\xAD\xC0\xF0\x8F\xBF\xBF\xE6)"},
        {"\x1B[1A\xE6\xAD\x8C\xF0\x9F\x98\xBF\xDF\xBF\xC2\xA9\xF4\x80\x80\x80\xE0\xA0\x80\xE6\xAD!",
         true, R"(\x1B[1A歌😿߿©􀀀ࠀ\xE6\xAD!)"},
        {"\u00A0\uFF01\u206A\u061D\u2010\u202F\u1000\U00010000\U00040000\uE800\\\xE6\xAD", true,
         "\u00A0\uFF01\u206A\u061D\u2010\u202F\u1000\U00010000\U00040000\uE800\\\\\\xE6\\xAD"}};
    for (const auto& [input, lyric, expected] : rows) {  // a lyric byte by byte, else a name
        TerminalText text{traceAppend, lyric};
        for (const char* byte = input; lyric && *byte != '\0'; ++byte)
            putTerminalByte(text, *byte);
        lyric ? endTerminalText(text) : putTerminalName(text.sink, input);
        EXPECT_EQ(std::string(trace.text, std::exchange(trace.used, 0)), expected);
    }
}

// The reverse of a row gives the opposite.
TEST(Primitives, FoldedNames) {
    const std::tuple<const char*, const char*, int> rows[] = {
        {"\xC2\x80É\u0800Σ", "\xC2\x80é\u0800ς", 0},
        {"\xF4\x90\x80\x80z", "\xF4\x90\x80\x80Z", 1},
        {"a.mid", "B.mid", -1},
        {"\xC1\x81", "b", 1},
        {"a\xC3", "b", 1},
        {"b", "a\xFF", -1},
        {"\xED\xA0\x80", "Ａ", 1},
        {"\x80", "\xC2\x80", 1},
        {"\xC3(", "\xC3\xA8", 1},
        {"Song𐀀􏿿", "song𐀀􏿿", 0},
        {"\xF8\x90\x80\x80", "𐀀", 1},
        {"\xED\xBF\xBFz", "\xED\xBF\xBFZ", 1},
        {"\xFFz", "\xFFy", 1},
        {"\xFF", "\xFF", 0}};
    for (const auto& [a, b, order] : rows)
        EXPECT_EQ(std::make_pair(compareFoldedNames(a, b), compareFoldedNames(b, a)),
                  std::make_pair(order, -order))
            << a << " vs " << b;
}

// Every code point folds as Unicode's own file says, where the machine has it.
TEST(Primitives, CaseFoldingTable) {
    std::ifstream file("/usr/share/unicode/CaseFolding.txt");
    if (!file)
        GTEST_SKIP() << "needs /usr/share/unicode/CaseFolding.txt (Debian: unicode-data)";
    std::map<std::uint32_t, std::uint32_t> folds;
    unsigned from, to;
    char status;
    for (std::string line; std::getline(file, line);)
        if (std::sscanf(line.c_str(), "%x; %c; %x;", &from, &status, &to) == 3 && status != 'F' &&
            status != 'T')
            folds[from] = to;
    for (std::uint32_t code = 0; code <= 0x10FFFF; ++code)
        ASSERT_EQ(foldCase(code), folds.count(code) != 0 ? folds[code] : code) << code;
}

// The library in-process, on bytes in memory: everything its listener hears and its results, for
// a song, a file cut short after it, and the song again, which must not tell it came second.
std::string heard;

template <typename... Values>
void hear(void*, Values... values) {
    ((heard += std::to_string(+values) + " "), ...);
}

std::size_t readBytes(void* from, std::uint64_t at, std::uint8_t* to, std::size_t size) {
    const Bytes& bytes = *static_cast<const Bytes*>(from);
    return static_cast<std::size_t>(
        std::copy_n(bytes.begin() + at, std::min<std::size_t>(size, bytes.size() - at), to) - to);
}

void hearText(void*, const std::uint8_t* text, std::size_t size) {
    heard.append(text, text + size);
}

bool writeBytes(void* into, std::uint64_t at, const std::uint8_t* bytes, std::size_t size) {
    Bytes& to = *static_cast<Bytes*>(into);
    to.resize(std::max<std::size_t>(to.size(), at + size));
    std::copy_n(bytes, size, to.begin() + at);
    return true;
}

// Its trace, where it has one, cannot be written.
Bytes convertInMemory(Bytes in, TraceMode trace = TRACE_QUIET) {
    const Listener listener{nullptr, hear, hear, hearText, hear, hear};
    Bytes out;
    const OutputSink sink{&out, writeBytes};
    const ConversionResult result = convertStream(
        InputReader{&in, in.size(), readBytes}, &sink,
        {trace, {nullptr, [](auto...) { return false; }}, "in", "out", false, &listener});
    hear(nullptr, result.status, result.track, result.offset, result.commands[ADD_LO],
         result.commands[DEL_UP], result.near_misses, result.division, result.format);
    heard += (result.message ? result.message : "-") + std::string("\n");
    return out;
}

const OutputSink kDiscard{nullptr, [](auto...) { return true; }};

// A file of 128 MiB: a huge track, the head of an add command, zeros.
std::size_t readGrowing(void*, std::uint64_t at, std::uint8_t* to, std::size_t size) {
    static Bytes head =
        hex(R"("MThd" {00 01 00 01 00 60} "MTrk" FF FF FF F0  00 FF 01 C0 80 80 04 "$ADD_UP$")");
    std::fill_n(to, size, 0);
    readBytes(&head, std::min<std::uint64_t>(at, head.size()), to, size);
    return size;
}

// The numbers the next descriptors opened get: a descriptor left open takes one of them.
std::vector<int> nextDescriptors() {
    std::vector<int> numbers{dup(0), dup(0), dup(0)};
    std::for_each(numbers.begin(), numbers.end(), close);
    return numbers;
}

// Refused inputs and failed conversions leave no descriptor behind.
TEST(Library, RefusalsReleaseTheInput) {
    const std::vector<int> before = nextDescriptors();
    EXPECT_EQ(listFile(".", {TRACE_QUIET, {}, ".", nullptr, false, nullptr}).status, 1);
    // An old output probed and found no song, which is replaced; then a conversion that fails
    // after its output was opened.
    Scratch scratch;
    const Bytes whole = hex(song({R"(00 FF 01 08 "$DEL_LO$")"}));
    writeFile("a.mid", whole);
    writeFile("b.mid", hex(R"("no song")"));
    writeFile("c.mid", Bytes(whole.begin(), whole.end() - 4));
    EXPECT_EQ(convertFile("a.mid", "b.mid", {TRACE_QUIET, {}, "", "", false, nullptr}).status, 0);
    EXPECT_EQ(convertFile("c.mid", "d.mid", {TRACE_QUIET, {}, "", "", false, nullptr}).status, 1);
    EXPECT_EQ(listFile("a.mid", {TRACE_QUIET, {}, "", nullptr, false, nullptr}).status, 0);
    EXPECT_EQ(nextDescriptors(), before);
}

// A reader that fails fails the conversion, naming the input; 4 GiB are more than the offsets
// hold.
TEST(Library, ReadFailuresAndSizes) {
    // A reader that fails, with the system's reason; 4 GiB; a track 16 bytes short of 4 GiB that
    // its command would lengthen by 128 MiB.
    const InputReader readers[] = {
        {nullptr, 1, [](auto...) { return errno = EIO, kReadFailed; }},
        {nullptr, std::uint64_t{1} << 32, [](auto...) { return kReadFailed; }},
        {nullptr, 0x8000100, readGrowing}};
    std::string failures;
    for (const InputReader& reader : readers) {
        const ConversionResult result =
            convertStream(reader, &kDiscard, {TRACE_QUIET, {}, "in", "out", false, nullptr});
        failures += std::string(result.message) + (result.file ? result.file : "") +
                    (result.reason ? result.reason : "") + std::to_string(result.offset) + ";";
    }
    EXPECT_EQ(failures, "file can't readinInput/output error0;file too large0;file too large22;");
}

TEST(Library, ConversionsStartAfresh) {
    const Bytes song = hex(R"("MThd" {00 02 00 01 01 E0} "MTrk" {00 FF 51 03 07 A1 20
        10 FF 58 04 03 02 18 08  20 FF 01 0A "$ADD_LO$hi"  00 FF 01 08 "$ADD_LO "
        30 FF 05 08 "$DEL_UP$"  00 FF 51 03 0F 42 40})");
    const Bytes first = convertInMemory(song);
    convertInMemory(Bytes(song.begin(), song.end() - 8));
    convertInMemory(song, TRACE_EVENTS);  // fails that conversion alone
    EXPECT_EQ(convertInMemory(song), first);
    EXPECT_EQ(first, hex(R"("MThd" {00 02 00 01 01 E0} "MTrk" {00 FF 51 03 07 A1 20
        10 FF 58 04 03 02 18 08  20 F0 0B 00 48 05 7F 07 01 06 08 06 09 F7
        00 FF 01 08 "$ADD_LO "  30 F0 07 00 48 05 7F 06 01 F7  00 FF 51 03 0F 42 40})"));
    // Tempo, time signature, the command and its text, the near miss (rule 3) and its text; then
    // the last command and the tempo that ends the file, which a cut copy lacks.
    const std::string heard_first = "1 0 500000 1 16 3 2 1 48 1 hi1 48 2 $ADD_LO ";
    const std::string whole = heard_first + "1 96 3 1 96 1000000 ";
    EXPECT_EQ(heard, whole + "0 0 0 1 1 1 480 2 -\n" + heard_first +
                         "1 1 63 1 0 1 480 2 unexpected end of file\n" + whole +
                         "1 0 0 1 1 1 480 2 file can't write\n" + whole + "0 0 0 1 1 1 480 2 -\n");
}

}  // namespace
