// End to end: the real converter on whole files, each compared with its whole expected output
// and its whole trace.
#include <gtest/gtest.h>

#include <string>

#include "support.h"

namespace {

const Bytes kHeaderOneTrack = hexBytes(R"(
    4D 54 68 64  # MThd
    00 00 00 06  # header length
    00 00        # format 0
    00 01        # one track
    00 60        # 96 ticks per quarter note
)");

const Bytes kHeaderTwoTracks = hexBytes(R"(
    4D 54 68 64  # MThd
    00 00 00 06  # header length
    00 01        # format 1
    00 02        # two tracks
    00 60        # 96 ticks per quarter note
)");

const Bytes kEndOfTrack = hexBytes("00 FF 2F 00  # end of track");

// A meta event at delta time 0 with a text of under 128 bytes.
Bytes metaText(std::uint8_t type, std::string_view text) {
    return concat({{0x00, 0xFF, type, static_cast<std::uint8_t>(text.size())}, textBytes(text)});
}

struct Conversion {
    Bytes output;
    RunResult run;
};

Conversion convert(const Bytes& input) {
    ScratchDir dir;
    writeFile(dir.path("in.mid"), input);
    Conversion result;
    result.run = runConverter({dir.path("in.mid"), dir.path("out.mid")});
    if (fileExists(dir.path("out.mid")))
        result.output = readFile(dir.path("out.mid"));
    return result;
}

void expectConversion(const Bytes& input, const Bytes& output, const std::string& trace) {
    const Conversion result = convert(input);
    EXPECT_EQ(result.run.exit_status, 0);
    EXPECT_EQ(result.run.out, trace);
    EXPECT_EQ(hexString(result.output), hexString(output));
}

TEST(Conversion, WholeRunOfAnAddCommand) {
    const Bytes input = hexBytes(R"(
        4D 54 68 64 00 00 00 06 00 00 00 01 00 60  # header: format 0, one track
        4D 54 72 6B 00 00 00 1B                    # MTrk, 27 bytes
        00 90 3C 40                                # note on
        10 FF 01 0B                                # Text, 11 bytes:
        24 41 44 44 5F 55 50 24 61 62 63           #   "$ADD_UP$abc"
        60 80 3C 00                                # note off
        00 FF 2F 00                                # end of track
    )");
    const Bytes output = hexBytes(R"(
        4D 54 68 64 00 00 00 06 00 00 00 01 00 60  # header unchanged
        4D 54 72 6B 00 00 00 1C                    # MTrk, 28 bytes
        00 90 3C 40                                # note on
        10 F0 0D                                   # SysEx, 13 bytes, same delta time
        00 48 05 7F 07 00                          #   add upper text
        06 01 06 02 06 03                          #   "abc" in nibbles
        F7                                         #   end of exclusive
        60 80 3C 00                                # note off
        00 FF 2F 00                                # end of track
    )");
    expectConversion(input, output,
                     "NOTE ON\nME 01, size=11\nCOM ADD_UP\nNOTE OFF\nME 2F, size=0\n");
}

struct SpliceCase {
    const char* name;
    Bytes input_events;
    Bytes output_events;
    const char* trace;
};

// One-track files: the events differ, the header and chunk tag do not.
const SpliceCase kSplices[] = {
    {"an empty payload", metaText(0x01, "$ADD_LO$"),
     hexBytes("00 F0 07 00 48 05 7F 07 01 F7  # add lower text, nothing"),
     "ME 01, size=8\nCOM ADD_LO\n"},
    {"a delete drops its extra text", metaText(0x05, "$DEL_UP$ now"),
     hexBytes("00 F0 07 00 48 05 7F 06 01 F7  # delete upper text"),
     "ME 05, size=12\nCOM DEL_UP\n"},
    {"payload bytes with the high bit set",
     concat({hexBytes("00 FF 01 0A"), textBytes("$ADD_HI$"), hexBytes("82 A0")}),
     hexBytes(R"(00 F0 0B 00 48 05 7F 07 00  # add upper text, 11 bytes
                 08 02 0A 00                 # 82 A0 in nibbles
                 F7)"),
     "ME 01, size=10\nCOM ADD_UP\n"},
    {"two commands in one track",
     concat({metaText(0x01, "$DEL_UL$"), hexBytes("00 90 3C 40  # note on"),
             metaText(0x05, "$ADD_LO$ab")}),
     hexBytes(R"(00 F0 07 00 48 05 7F 06 00 F7        # delete both lines
                 00 90 3C 40                          # note on
                 00 F0 0B 00 48 05 7F 07 01 06 01 06 02 F7  # add lower "ab"
     )"),
     "ME 01, size=8\nCOM DEL_UL\nNOTE ON\nME 05, size=10\nCOM ADD_LO\n"},
    {"a delta time of several bytes is kept",
     concat({hexBytes("81 80 00 FF 01 08"), textBytes("$DEL_LO$")}),
     hexBytes("81 80 00 F0 07 00 48 05 7F 06 02 F7  # delta 0x4000, delete lower"),
     "ME 01, size=8\nCOM DEL_LO\n"},
};

TEST(Conversion, SplicesEachCommandIntoItsTrack) {
    for (const SpliceCase& c : kSplices) {
        SCOPED_TRACE(c.name);
        expectConversion(
            concat({kHeaderOneTrack, trackChunk(concat({c.input_events, kEndOfTrack}))}),
            concat({kHeaderOneTrack, trackChunk(concat({c.output_events, kEndOfTrack}))}),
            std::string(c.trace) + "ME 2F, size=0\n");
    }
}

TEST(Conversion, SixtyFourPayloadBytesTakeATwoByteLength) {
    const std::string payload = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
    const Bytes nibbles = hexBytes(R"(
        03 00 03 01 03 02 03 03 03 04 03 05 03 06 03 07  # "01234567"
        03 08 03 09 06 01 06 02 06 03 06 04 06 05 06 06  # "89abcdef"
    )");
    const Bytes input =
        concat({kHeaderOneTrack,
                trackChunk(concat({hexBytes("00 FF 01 48  # Text, 72 bytes"), textBytes("$ADD_UP$"),
                                   textBytes(payload), kEndOfTrack}))});
    const Bytes sysex = concat({hexBytes("00 F0 81 07  # SysEx, 135 bytes"),
                                hexBytes("00 48 05 7F 07 00  # add upper text"), nibbles, nibbles,
                                nibbles, nibbles, hexBytes("F7")});
    ASSERT_EQ(sysex.size(), 1 + 138u);
    expectConversion(input, concat({kHeaderOneTrack, trackChunk(concat({sysex, kEndOfTrack}))}),
                     "ME 01, size=72\nCOM ADD_UP\nME 2F, size=0\n");
}

TEST(Conversion, CommandInTheSecondTrackRewritesOnlyThatTrack) {
    const Bytes input = hexBytes(R"(
        4D 54 68 64 00 00 00 06 00 01 00 02 00 60  # header: format 1, two tracks
        4D 54 72 6B 00 00 00 08                    # MTrk, 8 bytes
        00 90 3C 40                                # note on
        00 FF 2F 00                                # end of track
        4D 54 72 6B 00 00 00 13                    # MTrk, 19 bytes
        00 FF 01 0B                                # Text, 11 bytes:
        24 41 44 44 5F 4C 4F 24 78 79 7A           #   "$ADD_LO$xyz"
        00 FF 2F 00                                # end of track
    )");
    const Bytes output = hexBytes(R"(
        4D 54 68 64 00 00 00 06 00 01 00 02 00 60  # header unchanged
        4D 54 72 6B 00 00 00 08                    # first track unchanged
        00 90 3C 40
        00 FF 2F 00
        4D 54 72 6B 00 00 00 14                    # MTrk, 20 bytes
        00 F0 0D 00 48 05 7F 07 01                 # add lower text, 13 bytes
        07 08 07 09 07 0A F7                       #   "xyz" in nibbles
        00 FF 2F 00                                # end of track
    )");
    expectConversion(input, output,
                     "NOTE ON\nME 2F, size=0\nME 01, size=11\nCOM ADD_LO\nME 2F, size=0\n");
}

TEST(Conversion, EachTrackCountsItsOwnSizeChange) {
    const Bytes input =
        concat({kHeaderTwoTracks,
                trackChunk(concat(
                    {metaText(0x01, "$ADD_UP$a"), metaText(0x01, "$ADD_UP$b"), kEndOfTrack})),
                trackChunk(concat({metaText(0x05, "$DEL_HI$ gone"), kEndOfTrack}))});
    const Bytes output = hexBytes(R"(
        4D 54 68 64 00 00 00 06 00 01 00 02 00 60  # header unchanged
        4D 54 72 6B 00 00 00 1C                    # MTrk: 28 = 30 + 2 x (-1)
        00 F0 09 00 48 05 7F 07 00 06 01 F7        # add upper "a"
        00 F0 09 00 48 05 7F 07 00 06 02 F7        # add upper "b"
        00 FF 2F 00
        4D 54 72 6B 00 00 00 0E                    # MTrk: 14 = 19 - 5
        00 F0 07 00 48 05 7F 06 01 F7              # delete upper text
        00 FF 2F 00
    )");
    expectConversion(input, output,
                     "ME 01, size=9\nCOM ADD_UP\nME 01, size=9\nCOM ADD_UP\nME 2F, size=0\n"
                     "ME 05, size=13\nCOM DEL_UP\nME 2F, size=0\n");
}

struct RecognitionCase {
    const char* name;
    std::uint8_t meta_type;
    const char* text;
    const char* command;  // the COM line, or nullptr when the event passes unchanged
    const char* sysex;    // the event that replaces it
};

const RecognitionCase kRecognition[] = {
    {"primary spelling", 0x01, "$ADD_UP$x", "COM ADD_UP", "00 F0 09 00 48 05 7F 07 00 07 08 F7"},
    {"alternative spelling", 0x01, "$ADD_HI$x", "COM ADD_UP",
     "00 F0 09 00 48 05 7F 07 00 07 08 F7"},
    {"spellings mixed, HP", 0x01, "$ADD_HP$x", "COM ADD_UP", "00 F0 09 00 48 05 7F 07 00 07 08 F7"},
    {"spellings mixed, UI", 0x05, "$ADD_UI$x", "COM ADD_UP", "00 F0 09 00 48 05 7F 07 00 07 08 F7"},
    {"delete both, alternative", 0x05, "$DEL_HL$", "COM DEL_UL", "00 F0 07 00 48 05 7F 06 00 F7"},
    {"delete both, mixed", 0x01, "$DEL_UL$", "COM DEL_UL", "00 F0 07 00 48 05 7F 06 00 F7"},
    {"delete upper, alternative", 0x01, "$DEL_HI$", "COM DEL_UP", "00 F0 07 00 48 05 7F 06 01 F7"},
    {"exactly eight bytes", 0x05, "$DEL_LO$", "COM DEL_LO", "00 F0 07 00 48 05 7F 06 02 F7"},
    {"add with nothing after it", 0x01, "$ADD_UP$", "COM ADD_UP", "00 F0 07 00 48 05 7F 07 00 F7"},
    {"lower case", 0x01, "$add_up$x", nullptr, nullptr},
    {"a leading blank", 0x01, " $ADD_UP$", nullptr, nullptr},
    {"seven bytes", 0x01, "$DEL_LO", nullptr, nullptr},
    {"no closing dollar", 0x05, "$DEL_LOx yz", nullptr, nullptr},
    {"Track Name", 0x03, "$ADD_UP$x", nullptr, nullptr},
    {"Marker", 0x06, "$DEL_LO$", nullptr, nullptr},
    {"Copyright", 0x02, "$DEL_UL$", nullptr, nullptr},
    {"Cue Point", 0x07, "$ADD_LO$x", nullptr, nullptr},
};

TEST(Conversion, RecognisesCommandsOnlyInTextAndLyricEvents) {
    for (const RecognitionCase& c : kRecognition) {
        SCOPED_TRACE(c.name);
        const Bytes text_event = metaText(c.meta_type, c.text);
        const Bytes input =
            concat({kHeaderOneTrack, trackChunk(concat({text_event, kEndOfTrack}))});
        char me_line[48];
        std::snprintf(me_line, sizeof me_line, "ME %02X, size=%zu\n", c.meta_type,
                      std::string_view(c.text).size());
        if (c.command == nullptr) {
            expectConversion(input, input, std::string(me_line) + "ME 2F, size=0\n");
        } else {
            expectConversion(
                input,
                concat({kHeaderOneTrack, trackChunk(concat({hexBytes(c.sysex), kEndOfTrack}))}),
                std::string(me_line) + c.command + "\nME 2F, size=0\n");
        }
    }
}

const Bytes kCommandFreeTracks = hexBytes(R"(
    4D 54 72 6B 00 00 00 77           # MTrk, 119 bytes
    00 FF 00 02 00 01                 # sequence number
    00 FF 01 05 68 65 6C 6C 6F        # Text "hello"
    00 FF 02 03 28 63 29              # Copyright: (c)
    00 FF 03 04 4C 65 61 64           # Track Name "Lead"
    00 FF 04 03 50 6E 6F              # Instrument Name "Pno"
    00 FF 05 02 6C 61                 # Lyric "la"
    00 FF 06 01 41                    # Marker "A"
    00 FF 07 01 21                    # Cue Point "!"
    00 FF 20 01 00                    # channel prefix
    00 FF 21 01 00                    # port
    00 FF 51 03 07 A1 20              # tempo
    00 FF 54 05 60 00 00 00 00        # SMPTE offset
    00 FF 58 04 04 02 18 08           # time signature
    00 FF 59 02 00 00                 # key signature
    00 FF 7F 03 43 00 01              # sequencer specific
    00 F0 05 7E 7F 09 01 F7           # SysEx: general MIDI on
    00 90 3C 40                       # note on
    10 3E 40                          # running status
    00 FF 2F 00                       # end of track
    4D 54 72 6B 00 00 00 2A           # MTrk, 42 bytes
    00 C1 05                          # program change
    00 B1 07 64                       # control change
    00 E1 00 40                       # pitch bend
    00 D1 30                          # channel pressure
    00 A1 3C 20                       # poly pressure
    00 F7 02 43 12                    # SysEx escape
    00 81 3C 00                       # note off
    00 3E 00                          # running status
    00 FF 06 01 42                    # Marker "B"
    00 40 00                          # running status across the marker
    00 FF 2F 00                       # end of track
)");

const char* const kCommandFreeTrace =
    "ME 00, size=2\nME 01, size=5\nME 02, size=3\nME 03, size=4\nME 04, size=3\n"
    "ME 05, size=2\nME 06, size=1\nME 07, size=1\nME 20, size=1\nME 21, size=1\n"
    "ME 51, size=3\nME 54, size=5\nME 58, size=4\nME 59, size=2\nME 7F, size=3\n"
    "SysEx\nNOTE ON\nNOTE ON\nME 2F, size=0\n"
    "PROG\nCC\nPBEND\nPRESSURE\nPOLY PRESSURE\nSysEx\nNOTE OFF\nNOTE OFF\nME 06, size=1\n"
    "NOTE OFF\nME 2F, size=0\n";

TEST(PassThrough, CommandFreeFileComesOutIdentical) {
    const Bytes input = concat({kHeaderTwoTracks, kCommandFreeTracks});
    expectConversion(input, input, kCommandFreeTrace);
}

TEST(PassThrough, BytesAfterTheLastDeclaredTrackAreDropped) {
    const Bytes declared = concat({kHeaderTwoTracks, kCommandFreeTracks});
    const Bytes extra_chunk = hexBytes("4D 54 72 6B 00 00 00 04 00 FF 2F 00  # undeclared track");
    const Bytes trailing = hexBytes("00 00 00 2A  # trailing bytes");
    expectConversion(concat({declared, extra_chunk}), declared, kCommandFreeTrace);
    expectConversion(concat({declared, trailing}), declared, kCommandFreeTrace);
}

TEST(PassThrough, RunningStatusCrossesMetaSysExAndTrackBoundaries) {
    const Bytes input = concat({kHeaderTwoTracks, hexBytes(R"(
        4D 54 72 6B 00 00 00 1D           # MTrk, 29 bytes
        00 C0 05                          # program change
        00 06                             # running status
        00 FF 01 08 24 44 45 4C 5F 4C 4F 24  # Text "$DEL_LO$"
        00 07                             # running status after the command
        00 F0 01 F7                       # SysEx
        00 08                             # running status after the SysEx
        00 FF 2F 00                       # end of track
        4D 54 72 6B 00 00 00 06           # MTrk, 6 bytes
        00 09                             # running status across the tracks
        00 FF 2F 00                       # end of track
    )")});
    const Bytes output = concat({kHeaderTwoTracks, hexBytes(R"(
        4D 54 72 6B 00 00 00 1B           # MTrk, 27 bytes
        00 C0 05
        00 06
        00 F0 07 00 48 05 7F 06 02 F7     # delete lower text
        00 07
        00 F0 01 F7
        00 08
        00 FF 2F 00
        4D 54 72 6B 00 00 00 06           # second track unchanged
        00 09
        00 FF 2F 00
    )")});
    expectConversion(input, output,
                     "PROG\nPROG\nME 01, size=8\nCOM DEL_LO\nPROG\nSysEx\nPROG\nME 2F, size=0\n"
                     "PROG\nME 2F, size=0\n");
}

TEST(PassThrough, AnEventPastItsChunkEndClosesTheTrack) {
    // The first track declares 6 bytes but its Text event takes 7, the last one being the "M" of
    // the next chunk's tag; the scan goes on at the second track as indexed, and the final copy
    // takes everything up to the end of its last event.
    const Bytes input = concat({kHeaderTwoTracks, hexBytes(R"(
        4D 54 72 6B 00 00 00 06           # MTrk, 6 bytes declared
        00 FF 01 03 61 62                 # Text "abM", 7 bytes ...
        4D 54 72 6B 00 00 00 04           # ... ending inside this tag
        00 FF 2F 00                       # end of track
    )")});
    expectConversion(input, input, "ME 01, size=3\nME 2F, size=0\n");
}

struct FailureCase {
    const char* name;
    Bytes input;
    const char* trace;
};

const FailureCase kFailures[] = {
    {"a command event running past its chunk end", concat({kHeaderTwoTracks, hexBytes(R"(
        4D 54 72 6B 00 00 00 08           # MTrk, 8 bytes declared
        00 FF 01 08 24 44 45 4C 5F 4C 4F 24  # Text "$DEL_LO$", 12 bytes
        4D 54 72 6B 00 00 00 04 00 FF 2F 00
     )")}),
     "ME 01, size=8\nCOM DEL_LO\ntext event runs past end of track\nERR\n"},
    {"an add command too long for a SysEx length", concat({kHeaderOneTrack, hexBytes(R"(
        4D 54 72 6B 08 00 00 20           # MTrk, declares 0x08000020 bytes
        00 FF 01 C0 80 80 05              # Text, declares 0x08000005 bytes
        24 41 44 44 5F 55 50 24           # "$ADD_UP$", and the file ends
     )")}),
     "ME 01, size=134217733\nCOM ADD_UP\ntext too long\nERR\n"},
    {"running past the end and too long: the end comes first", concat({kHeaderOneTrack, hexBytes(R"(
        4D 54 72 6B 00 00 00 20           # MTrk, 32 bytes declared
        00 FF 01 C0 80 80 05              # Text, declares 0x08000005 bytes
        24 41 44 44 5F 55 50 24           # "$ADD_UP$"
     )")}),
     "ME 01, size=134217733\nCOM ADD_UP\ntext event runs past end of track\nERR\n"},
    {"a channel message cut by the end of the file",
     concat({kHeaderOneTrack, hexBytes("4D 54 72 6B 00 00 00 04  00 90 3C  # note on, cut")}),
     "unexpected end of file\nERR\n"},
    {"a meta event longer than the file",
     concat({kHeaderOneTrack, hexBytes("4D 54 72 6B 00 00 00 08  00 FF 01 04 61  # Text, cut")}),
     "ME 01, size=4\nunexpected end of file\nERR\n"},
    {"a payload longer than the file", concat({kHeaderOneTrack, hexBytes(R"(
        4D 54 72 6B 00 00 00 10           # MTrk, 16 bytes declared
        00 FF 01 0C 24 41 44 44 5F 4C 4F 24 61  # Text "$ADD_LO$a", cut 3 bytes short
     )")}),
     "ME 01, size=12\nCOM ADD_LO\nunexpected end of file\nERR\n"},
    {"a track that the index places before the copy cursor", hexBytes(R"(
        4D 54 68 64 00 00 00 06 00 01 00 03 00 60  # header: format 1, three tracks
        4D 54 72 6B 00 00 00 18                    # MTrk at 14, 24 bytes
        00 FF 7F 04 00 00 01 00                    # sequencer specific, 4 bytes
        00 FF 01 08 24 44 45 4C 5F 4C 4F 24        # Text "$DEL_LO$"
        00 FF 2F 00                                # end of track
        4D 54 72 6B FF FF FF E0                    # MTrk at 46: its length steps back, so
        00 FF 2F 00                                #   the third tag lies at 22, length 256
     )"),
     "ME 7F, size=4\nME 01, size=8\nCOM DEL_LO\nME 2F, size=0\nME 2F, size=0\n"
     "ME 01, size=8\nCOM DEL_LO\ntrack overlaps previous track\nERR\n"},
    {"a five-byte delta time",
     concat({kHeaderOneTrack, hexBytes("4D 54 72 6B 00 00 00 09  80 80 80 80 00 FF 2F 00 00")}),
     "ERR\n"},
};

TEST(Failure, EndsWithItsMessageAndWritesNothing) {
    for (const FailureCase& c : kFailures) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        writeFile(dir.path("in.mid"), c.input);
        const RunResult run = runConverter({dir.path("in.mid"), dir.path("out.mid")});
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_EQ(run.out, c.trace);
        EXPECT_FALSE(fileExists(dir.path("out.mid")));
    }
}

// Every cut of a file with commands ends in a failure that leaves the output path as it was.
TEST(Failure, EveryTruncationFailsCleanly) {
    const Bytes input = concat(
        {kHeaderTwoTracks,
         trackChunk(concat({hexBytes("00 90 3C 40  81 00 3C 00"), metaText(0x01, "$ADD_UP$ab"),
                            hexBytes("00 F0 03 7E 01 F7"), kEndOfTrack})),
         trackChunk(concat({metaText(0x05, "$DEL_HL$"), hexBytes("00 B0 07 64"), kEndOfTrack}))});
    const std::string full_trace =
        "NOTE ON\nNOTE ON\nME 01, size=10\nCOM ADD_UP\nSysEx\nME 2F, size=0\n"
        "ME 05, size=8\nCOM DEL_UL\nCC\nME 2F, size=0\n";
    ASSERT_EQ(convert(input).run.out, full_trace);

    ScratchDir dir;
    const Bytes previous = textBytes("the output as it was before");
    for (std::size_t length = 0; length < input.size(); ++length) {
        SCOPED_TRACE("cut at " + std::to_string(length));
        writeFile(dir.path("in.mid"), Bytes(input.begin(), input.begin() + length));
        writeFile(dir.path("out.mid"), previous);
        const RunResult run = runConverter({dir.path("in.mid"), dir.path("out.mid")});
        EXPECT_EQ(run.exit_status, 1);
        ASSERT_GE(run.out.size(), 4u);
        const std::string before_err = run.out.substr(0, run.out.size() - 4);
        EXPECT_EQ(run.out.substr(run.out.size() - 4), "ERR\n");
        // What comes before "ERR" is the start of the full trace, then at most the message.
        const std::string message = "unexpected end of file\n";
        const bool has_message =
            before_err.size() >= message.size() &&
            before_err.compare(before_err.size() - message.size(), message.size(), message) == 0;
        const std::string traced =
            has_message ? before_err.substr(0, before_err.size() - message.size()) : before_err;
        EXPECT_EQ(full_trace.compare(0, traced.size(), traced), 0) << run.out;
        EXPECT_EQ(readFile(dir.path("out.mid")), previous);
        EXPECT_EQ(listDirectory(dir.root).size(), 2u);
    }
}

}  // namespace
