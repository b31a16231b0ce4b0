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

TEST(SmfReader, ReadsRunningStatusAcrossMetaAndSysEx) {
    const smf::ParseResult result = smf::parse(concat({hexBytes(kHeader), hexBytes(R"(
        4d 54 72 6b     # MTrk
        00 00 00 19     # track length 25
        00 90 3c 40     # note on
        00 ff 01 01 41  # Text "A"
        10 3c 00        # note on in running status, across the meta event
        00 f0 02 7e f7  # SysEx
        81 00 3e 40     # delta 128, note on in running status, across the SysEx event
        00 ff 2f 00     # End of Track
    )")}));
    ASSERT_TRUE(result.ok()) << result.error;
    ASSERT_EQ(result.file.tracks.size(), 1u);
    const auto& events = result.file.tracks[0].events;
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[1].data, textBytes("A"));
    EXPECT_EQ(events[3].data, hexBytes("7e f7"));
    for (int i : {2, 4}) {
        EXPECT_TRUE(events[i].running_status);
        EXPECT_EQ(events[i].status, 0x90);
    }
    EXPECT_EQ(events[4].delta, 128u);
    EXPECT_EQ(events[4].raw, hexBytes("81 00 3e 40"));
}

TEST(SmfReader, RejectsMalformedTracks) {
    const struct {
        const char* tracks;  // hex of everything after the header chunk
        const char* error;   // part of the expected message
    } cases[] = {
        {R"(4d 54 72 4b     # MTrK, a bad chunk tag
            00 00 00 04     # track length 4
            00 ff 2f 00     # End of Track
         )",
         "chunk tag"},
        {R"(4d 54 72 6b     # MTrk
            00 00 00 05     # track length 5, but four bytes follow
            00 ff 2f 00     # End of Track
         )",
         "runs past the end of the file"},
        {R"(4d 54 72 6b     # MTrk
            00 00 00 03     # track length 3 ends inside End of Track
            00 ff 2f 00     # End of Track
         )",
         "data ends while reading meta length"},
        {R"(4d 54 72 6b     # MTrk
            00 00 00 08     # track length 8
            80 80 80 80 00  # delta time with a fifth byte
            ff 2f 00        # End of Track
         )",
         "longer than four bytes"},
        {R"(4d 54 72 6b     # MTrk
            00 00 00 08     # track length 8
            00 90 90 40     # note on whose key is a status byte
            00 ff 2f 00     # End of Track
         )",
         "data byte 90 >= 80"},
        {R"(4d 54 72 6b     # MTrk
            00 00 00 07     # track length 7
            00 3c 40        # data bytes with no status before them
            00 ff 2f 00     # End of Track
         )",
         "without a running status"},
        {R"(4d 54 72 6b     # MTrk
            00 00 00 04     # track length 4
            00 90 3c 40     # note on, and the chunk ends
         )",
         "lacks End of Track"},
    };
    for (const auto& test : cases) {
        const smf::ParseResult result =
            smf::parse(concat({hexBytes(kHeader), hexBytes(test.tracks)}));
        EXPECT_NE(result.error.find(test.error), std::string::npos)
            << "error \"" << result.error << "\" for" << test.tracks;
    }
}

}  // namespace
