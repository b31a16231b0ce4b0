// The round-trip property test trusts this reader to refuse malformed output, so its refusals
// are tested here on small hand-made files.

#include "smf_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "support.h"

namespace {

const char* const kHeader = R"(
    4d 54 68 64  # MThd
    00 00 00 06  # header length 6
    00 01        # format 1
    00 01        # one track
    00 60        # 96 ticks per quarter note
)";

TEST(SmfReader, ReadsEventsAndRunningStatusAcrossMetaAndSysEx) {
    const Bytes file = concat({hexBytes(kHeader), hexBytes(R"(
        4d 54 72 6b     # MTrk
        00 00 00 19     # track length 25
        00 90 3c 40     # note on
        00 ff 01 01 41  # Text "A"
        10 3c 00        # note on in running status, across the meta event
        00 f0 02 7e f7  # SysEx
        81 00 3e 40     # delta 128, note on in running status, across the SysEx event
        00 ff 2f 00     # End of Track
    )")});
    const smf::ParseResult result = smf::parse(file);
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_EQ(result.file.format, 1);
    EXPECT_EQ(result.file.track_count, 1);
    EXPECT_EQ(result.file.division, 0x60);
    ASSERT_EQ(result.file.tracks.size(), 1u);
    const auto& events = result.file.tracks[0].events;
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[1].kind, smf::EventKind::Meta);
    EXPECT_EQ(events[1].meta_type, 0x01);
    EXPECT_EQ(events[1].data, textBytes("A"));
    EXPECT_TRUE(events[2].running_status);
    EXPECT_EQ(events[2].status, 0x90);
    EXPECT_EQ(events[2].data, hexBytes("3c 00"));
    EXPECT_EQ(events[3].kind, smf::EventKind::SysEx);
    EXPECT_EQ(events[3].data, hexBytes("7e f7"));
    EXPECT_EQ(events[4].delta, 128u);
    EXPECT_EQ(events[4].delta_size, 2u);
    EXPECT_EQ(events[4].raw, hexBytes("81 00 3e 40"));
    EXPECT_TRUE(events[4].running_status);
}

struct RejectCase {
    const char* name;
    const char* tracks;  // hex of everything after the header chunk
    const char* error;   // part of the expected message
};

TEST(SmfReader, RejectsMalformedTracks) {
    const RejectCase cases[] = {
        {"bad track tag", R"(
            4d 54 72 4b  # MTrK
            00 00 00 04  # track length 4
            00 ff 2f 00  # End of Track
         )",
         "chunk tag"},
        {"length one byte longer than the events", R"(
            4d 54 72 6b  # MTrk
            00 00 00 05  # track length 5, but four bytes follow
            00 ff 2f 00  # End of Track
         )",
         "runs past the end of the file"},
        {"length one byte shorter than the events", R"(
            4d 54 72 6b  # MTrk
            00 00 00 03  # track length 3 ends inside End of Track
            00 ff 2f 00  # End of Track
         )",
         "data ends while reading meta length"},
        {"event running past its chunk", R"(
            4d 54 72 6b  # MTrk
            00 00 00 08  # track length 8
            00 ff 01 05  # Text of length 5, with four bytes left in the chunk
            41 42 43 44  # "ABCD", the end of the chunk
            45           # "E", outside the chunk
         )",
         "runs past the track chunk"},
        {"five-byte delta time", R"(
            4d 54 72 6b     # MTrk
            00 00 00 08     # track length 8
            80 80 80 80 00  # delta time with a fifth byte
            ff 2f 00        # End of Track
         )",
         "longer than four bytes"},
        {"five-byte meta length", R"(
            4d 54 72 6b        # MTrk
            00 00 00 0c        # track length 12
            00 ff 01           # Text
            80 80 80 80 00     # length with a fifth byte
            00 ff 2f 00        # End of Track
         )",
         "longer than four bytes"},
        {"status byte as first data byte", R"(
            4d 54 72 6b  # MTrk
            00 00 00 08  # track length 8
            00 90 90 40  # note on whose key is a status byte
            00 ff 2f 00  # End of Track
         )",
         "data byte 90 >= 80"},
        {"status byte as second data byte in running status", R"(
            4d 54 72 6b  # MTrk
            00 00 00 0b  # track length 11
            00 b0 07 64  # control change
            00 07 f8     # running status, second data byte F8
            00 ff 2f 00  # End of Track
         )",
         "data byte F8 >= 80"},
        {"missing status at track start", R"(
            4d 54 72 6b  # MTrk
            00 00 00 07  # track length 7
            00 3c 40     # data bytes with no status before them
            00 ff 2f 00  # End of Track
         )",
         "without a running status"},
        {"system real-time byte as an event", R"(
            4d 54 72 6b  # MTrk
            00 00 00 06  # track length 6
            00 f8        # timing clock
            00 ff 2f 00  # End of Track
         )",
         "status F8 is not allowed"},
        {"no End of Track", R"(
            4d 54 72 6b  # MTrk
            00 00 00 04  # track length 4
            00 90 3c 40  # note on, and the chunk ends
         )",
         "lacks End of Track"},
        {"event after End of Track", R"(
            4d 54 72 6b  # MTrk
            00 00 00 08  # track length 8
            00 ff 2f 00  # End of Track
            00 90 3c 40  # note on
         )",
         "event after End of Track"},
        {"End of Track with data", R"(
            4d 54 72 6b     # MTrk
            00 00 00 05     # track length 5
            00 ff 2f 01 00  # End of Track of length 1
         )",
         "meta 2F of length 1, not 0"},
        {"tempo of two bytes", R"(
            4d 54 72 6b           # MTrk
            00 00 00 0a           # track length 10
            00 ff 51 02 07 a1     # Set Tempo with two bytes, not three
            00 ff 2f 00           # End of Track
         )",
         "meta 51 of length 2, not 3"},
        {"bytes after the last track", R"(
            4d 54 72 6b  # MTrk
            00 00 00 04  # track length 4
            00 ff 2f 00  # End of Track
            00           # one byte too many
         )",
         "1 bytes after the last declared track"},
    };
    for (const RejectCase& test : cases) {
        SCOPED_TRACE(test.name);
        const smf::ParseResult result =
            smf::parse(concat({hexBytes(kHeader), hexBytes(test.tracks)}));
        EXPECT_FALSE(result.ok());
        EXPECT_NE(result.error.find(test.error), std::string::npos) << result.error;
    }
}

TEST(SmfReader, RejectsMalformedHeaders) {
    const char* const track = R"(
        4d 54 72 6b  # MTrk
        00 00 00 04  # track length 4
        00 ff 2f 00  # End of Track
    )";
    const RejectCase cases[] = {
        {"bad header tag", R"(
            4d 54 68 44  # MThD
            00 00 00 06  # header length 6
            00 01 00 01  # format 1, one track
            00 60        # 96 ticks per quarter note
         )",
         "is not MThd"},
        {"header length 8", R"(
            4d 54 68 64  # MThd
            00 00 00 08  # header length 8
            00 01 00 01  # format 1, one track
            00 60 00 00  # 96 ticks per quarter note, two more bytes
         )",
         "header length 8 is not 6"},
        {"format 3", R"(
            4d 54 68 64  # MThd
            00 00 00 06  # header length 6
            00 03 00 01  # format 3, one track
            00 60        # 96 ticks per quarter note
         )",
         "format 3"},
        {"format 0 with two tracks", R"(
            4d 54 68 64  # MThd
            00 00 00 06  # header length 6
            00 00 00 02  # format 0, two tracks
            00 60        # 96 ticks per quarter note
         )",
         "format 0 with 2 tracks"},
        {"fewer tracks than declared", R"(
            4d 54 68 64  # MThd
            00 00 00 06  # header length 6
            00 01 00 02  # format 1, two tracks, but one follows
            00 60        # 96 ticks per quarter note
         )",
         "data ends while reading chunk tag"},
    };
    for (const RejectCase& test : cases) {
        SCOPED_TRACE(test.name);
        const smf::ParseResult result =
            smf::parse(concat({hexBytes(test.tracks), hexBytes(track)}));
        EXPECT_FALSE(result.ok());
        EXPECT_NE(result.error.find(test.error), std::string::npos) << result.error;
    }
}

// Running status into the next track is what the converter does; the standard does not allow
// it, so the reader takes it only when asked to.
TEST(SmfReader, RunningStatusAcrossTracksOnlyWhenAllowed) {
    const Bytes file = hexBytes(R"(
        4d 54 68 64  # MThd
        00 00 00 06  # header length 6
        00 01 00 02  # format 1, two tracks
        00 60        # 96 ticks per quarter note
        4d 54 72 6b  # MTrk
        00 00 00 07  # track length 7
        00 c0 05     # program change
        00 ff 2f 00  # End of Track
        4d 54 72 6b  # MTrk
        00 00 00 06  # track length 6
        00 07        # program change in running status from the first track
        00 ff 2f 00  # End of Track
    )");
    const smf::ParseResult strict = smf::parse(file);
    EXPECT_FALSE(strict.ok());
    EXPECT_NE(strict.error.find("without a running status at offset 38"), std::string::npos)
        << strict.error;

    smf::Options options;
    options.running_status_across_tracks = true;
    const smf::ParseResult lenient = smf::parse(file, options);
    ASSERT_TRUE(lenient.ok()) << lenient.error;
    ASSERT_EQ(lenient.file.tracks.size(), 2u);
    EXPECT_EQ(lenient.file.tracks[1].events[0].status, 0xC0);
    EXPECT_EQ(lenient.file.tracks[1].events[0].data, hexBytes("07"));
}

}  // namespace
