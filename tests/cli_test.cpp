// The real converter, end to end. Each row runs it in a scratch directory (mode 0755) holding
// in.mid (the row's input), out.mid (an old output, mode 02606, with the extended attributes
// user.empty, empty, and user.origin) and the files the row gives, then compares its whole
// standard output, its exit status and the whole directory: the files the row names as made, with
// their contents, permission bits and attributes, and nothing else changed, added or left behind.
// A given folder named shared* or their* is a shared one (mode 1777), and what a row gives under
// a name that begins with "their" belongs to the user nobody.
#include <gtest/gtest.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif
#ifndef _WIN32
#include <unistd.h>
#endif

#include <csignal>
#include <filesystem>
#include <regex>

#include "support.h"

namespace fs = std::filesystem;

namespace {

// Path to listing. A path ending in '/' is a directory; "-> path" makes a symbolic link, "=> path"
// a hard link.
using Files = std::map<std::string, std::string>;

// The trace's "<usage>" at its end stands for what --help prints; needs names what the binary's
// target must be able to do, if anything.
struct Row {
    std::string name, input, trace, needs;
    std::vector<std::string> args;
    Files made, given;
    int status, how;
    static std::string nameOf(const testing::TestParamInfo<Row>& info) { return info.param.name; }
};

Row row(std::string name, std::vector<std::string> args, std::string input, Files made,
        std::string trace, int status = 0, Files given = {}, std::string needs = {},
        int how = kRun) {
    return {name, input, trace, needs, args, made, given, status, how};
}

// The piece, count times over (in as many steps as count has bits).
std::string times(const std::string& piece, unsigned count) {
    return count == 0 ? "" : times(piece + piece, count / 2) + (count % 2 != 0 ? piece : "");
}

// count symbolic links, ln -> ... -> l1 -> out.mid, n being count: l10 -> l9 is shorter than the
// link before it.
Files chain(unsigned count) {
    Files links;
    for (unsigned i = count; i > 0; --i)
        links["l" + std::to_string(i)] = "-> " + (i > 1 ? "l" + std::to_string(i - 1) : "out.mid");
    return links;
}

const std::vector<std::string> kInOut = {"in.mid", "out.mid"};
const std::vector<std::string> kQuiet = {"-q", "in.mid", "out.mid"};
const std::string kOld = R"("old output")";
const std::string kSameFile = "input and output are the same file\nERR\n";
const std::string kCantWrite = "file can't write: out.mid: ";
const std::string kPlanted = " in a shared folder, ";
const std::string kEnd = "unexpected end of file (track 1, byte ";
const std::string kPosix = "posix file system";
const std::string kLinux = "linux";
const std::string kFails = "injected failures";

// The note's bytes, CR LF 1A, are what a text mode would change.
const std::string kSong = song({R"(00 FF 05 08 "$DEL_UL$"  0D 90 0A 1A  00 FF 2F 00)"});
const std::string kSongOut = song({"00 F0 07 00 48 05 7F 06 00 F7  0D 90 0A 1A  00 FF 2F 00"});
const std::string kSongTrace = "ME 05, size=8\nCOM DEL_UL\nNOTE ON\nME 2F, size=0\n";
// Its second track is missing: the first is the last the file holds.
const std::string kBad = R"("MThd" {00 01 00 02 00 60} "MTrk" {00 FF 2F 00})";

const std::string kWorked = song({R"(00 90 3C 40  10 FF 01 0B "$ADD_UP$abc"  60 80 3C 00)"});
const std::string kWorkedOut =
    song({"00 90 3C 40  10 F0 0D 00 48 05 7F 07 00 06 01 06 02 06 03 F7  60 80 3C 00"});

// Running status goes on across a command, a SysEx event and into the next track; the commands
// come in either spelling, with a payload of bytes over 0x7F, none, or a text dropped.
const std::string kTwoTracks =
    song({R"(00 FF 51 03 07 A1 20  00 C0 05  00 06  00 FF 01 08 "$DEL_LO$"  00 07  00 F0 01 F7
             00 08  00 FF 2F 00)",
          R"(00 09  00 FF 05 0A "$ADD_HP$" 82 A0  81 80 00 FF 01 08 "$ADD_LO$"  # after 0x4000 ticks
             00 FF 05 0C "$DEL_UP$ now"  00 FF 01 08 "$DEL_HL$"  00 FF 2F 00)"});
const std::string kTwoTracksOut = song(
    {"00 FF 51 03 07 A1 20  00 C0 05  00 06  00 F0 07 00 48 05 7F 06 02 F7  00 07  00 F0 01 F7 "
     "00 08  00 FF 2F 00",
     R"(00 09  00 F0 0B 00 48 05 7F 07 00 08 02 0A 00 F7  81 80 00 F0 07 00 48 05 7F 07 01 F7
        00 F0 07 00 48 05 7F 06 01 F7  00 F0 07 00 48 05 7F 06 00 F7  00 FF 2F 00)"});
const std::string kTwoTracksTrace =
    "ME 51, size=3\nPROG\nPROG\nME 01, size=8\nCOM DEL_LO\nPROG\nSysEx\nPROG\nME 2F, size=0\nPROG\n"
    "ME 05, size=10\nCOM ADD_UP\nME 01, size=8\nCOM ADD_LO\nME 05, size=12\nCOM DEL_UP\n"
    "ME 01, size=8\nCOM DEL_UL\nME 2F, size=0\n";

// Lookalikes of commands, and running status across them: commands in other events, and near
// misses by every rule.
const std::string kCommandFree =
    song({R"(00 A1 3C 20  00 FF 03 09 "$ADD_UP$x"  00 FF 06 08 "$DEL_LO$"  00 FF 01 09 "$add_up$x"
             00 FF 05 09 " $ADD_UP$"  00 FF 01 07 "$DEL_LO"  00 FF 05 0B "$DEL_LOx yz"
             10 FF 01 08 "$ADD_LX$"  00 FF 01 08 "#DEL_UL$"  00 FF 01 0B "Hello world"  00 FF 01 08 " $ADD_UP"
             24 FF 06 00  # a blank and seven bytes, then a delta time that is "$"
             00 3D 10)"});

const Bytes kCommandFreeBytes = hex(kCommandFree);

// Commands of two tracks at their times (their lines more than a trace buffer holds); a text with
// a backslash, a space, control bytes and UTF-8.
const std::string kListed =
    song({R"(00 FF 01 18 "$ADD_UP$a\ b" 01 00 7F "歌" C2 85 E2 80 AE E9  # C1, RLO, Latin-1
             81 00 90 3C 40  10 FF 05 0C "$DEL_HI$ now")",
          R"(83 60 FF 05 09 "$ADD_HI$x" )" + times(R"(00 FF 01 08 "$DEL_LO$" )", 6000)});

// A track of 0x08000020 bytes and the start of a text event in it, its length to follow.
const std::string kHuge = R"("MThd" {00 01 00 01 00 60} "MTrk" 08 00 00 20  00 FF 01 )";
const std::string k1023 = "\"MThd\" {00 01 03 FF 00 60}" + times(R"("MTrk" {00 FF 2F 00})", 1023);
// Output and trace far larger than any buffer; a run whose reader has seen its first line is still
// under way.
const std::string kNotes = times("00 90 3C 40 ", 100000);
const std::string kLong = song({R"(00 FF 05 08 "$DEL_UL$" )" + kNotes});
const std::string kLongTrace = "ME 05, size=8\nCOM DEL_UL\n" + times("NOTE ON\n", 100000);

const std::string kWrapped = R"("MThd" {00 01 00 01 00 60} "MTrk" FF FF FF EB 00 FF 2F 00)";
// Its end computed in 32 bits would wrap round to byte 6.
const std::string kPastTheEnd =
    R"("MThd" {00 01 00 01 00 60} "MTrk" FF FF FF F0  00 90 3C 40  00 FF 05 0A "$ADD_UP$hi")";
const std::string kSongReason =
    "it holds lyric commands, so it is a song, not a converted file (-f replaces it anyway)\n";

// A run of the song in which a C library call of the converter fails, as on a failing disk or a
// lost server; it ends as it would have without the failure when made names a new output.
Row failing(std::string name, std::string call, std::string needs, std::string output = "out.mid",
            Files made = {}, std::string reason = "Input/output error") {
    return row(name, {"FAIL=" + call, "-q", "in.mid", output}, kSong, made,
               made.empty() ? "file can't write: " + output + ": " + reason + "\nERR\n" : "",
               made.empty() ? 1 : 0, {}, needs);
}

const std::vector<Row> kRows = {
    // An old output whose scan fails before its command is no song, nor is a converted file.
    row("worked_example", kInOut, kWorked, {{"out.mid", kWorkedOut}},
        "NOTE ON\nME 01, size=11\nCOM ADD_UP\nNOTE OFF\n", 0,
        {{"out.mid", song({"80 80 80 80 00", R"(00 FF 01 08 "$DEL_LO$")"})}}),
    // A byte after the tracks is the file's too.
    row("every_command", kInOut, kTwoTracks + " 2A", {{"out.mid", kTwoTracksOut + " 2A"}},
        kTwoTracksTrace, 0, {{"out.mid", kSongOut}}),
    // A message cut short by its track's end ends there, and the next track is scanned once; the
    // byte after the last track is the output's last, alone in its block.
    row("message_ends_with_its_track", kInOut,
        song({"00 F1 F0", R"(00 FF 01 08 "$DEL_LO$")"}) + " 2A",
        {{"out.mid", song({"00 F1 F0", "00 F0 07 00 48 05 7F 06 02 F7"}) + " 2A"}},
        "ME 01, size=8\nCOM DEL_LO\n"),
    row("song_replaced_by_force", {"-f", "-q", "in.mid", "out.mid"}, kSong, {{"out.mid", kSongOut}},
        "", 0, {{"out.mid", kSong}}),
    row("1023_tracks", kInOut, k1023, {{"out.mid", k1023}}, times("ME 2F, size=0\n", 1023)),
    row("large_file", kInOut, kLong,
        {{"out.mid", song({"00 F0 07 00 48 05 7F 06 00 F7 " + kNotes})}}, kLongTrace),
    row("non_ascii_names", {"歌.mid", "出力.mid"}, kSong, {{"出力.mid", kSongOut}}, kSongTrace, 0,
        {{"歌.mid", kSong}}),
    // An option may follow the input.
    row("list", {"in.mid", "--list"}, kListed, {},
        "1\t0\tADD_UP\ta\\\\ b\\x01\\x00\\x7F歌\\xC2\\x85\\xE2\\x80\\xAE\\xE9\n1\t144\tDEL_UP\n"
        "2\t480\tADD_UP\tx\n" +
            times("2\t480\tDEL_LO\n", 6000)),
    // A song in an output's place fails that file alone; the files after a failure are exact.
    row("folder",
        {"-o", "o/", "--", "in.mid", "bad.mid", "x\u202Egnp.mid", "-b.mid", "c.mid", "d.mid"},
        kTwoTracks,
        {{"o/in.mid", kTwoTracksOut},
         {"o/c.mid", song({R"(00 F0 07 00 48 05 7F 06 00 F7  00 FF 01 08 "$del_ul$")"})},
         {"o/d.mid", kCommandFree}},
        "in.mid -> o/in.mid: 5 commands\nbad.mid: " + kEnd +
            "14)\nx\\xE2\\x80\\xAEgnp.mid: file "
            "can't read: No such file or directory\n-b.mid: file not replaced: o/-b.mid: " +
            kSongReason +
            "c.mid -> o/c.mid: 1 command, 1 near miss\n"
            "d.mid -> o/d.mid: 0 commands, 6 near misses: no lyric commands in this file\n",
        1,
        {{"o/", ""},
         {"-b.mid", kSong},
         {"bad.mid", kBad},
         {"o/-b.mid", kSong},
         {"c.mid", song({R"(00 FF 05 08 "$DEL_UL$"  00 FF 01 08 "$del_ul$")"})},
         {"d.mid", kCommandFree}}),
    row("list_near_misses", {"--list", "in.mid"}, kCommandFree, {},
        "1\t0\tnear\tlower-case letters\t$add_up$x\n1\t0\tnear\tblanks before the command\t "
        "$ADD_UP$\n1\t0\tnear\tno closing $\t$DEL_LO\n1\t0\tnear\tno closing $\t$DEL_LOx yz\n"
        "1\t16\tnear\tone character different\t$ADD_LX$\n"
        "1\t16\tnear\tone character different\t#DEL_UL$\n"),
    // What no output may be written through is refused at the output, as no planted file.
    row("folder_output_through_a_file", {"-o", "o", "in.mid"}, kSong, {},
        "in.mid: file can't write: o/in.mid: Not a directory\n", 1,
        {{"o/", ""}, {"o/in.mid", "-> ../in.mid/x"}}, kPosix),
    row("folder_quiet", {"-q", "--output-dir", "o", "in.mid", "b.mid"}, kSong,
        {{"o/in.mid", kSongOut}, {"o/b.mid", kSongOut}}, "", 0, {{"o/", ""}, {"b.mid", kSong}}),
    // Without /proc an unnamed file could not be linked: a hidden named one takes its place.
    row("replaced_without_proc", kInOut, kSong, {{"out.mid", kSongOut}}, kSongTrace, 0, {},
        "an empty /proc", kWithoutProc),
    row("symbolic_link_has_its_target_replaced", {"in.mid", "sub/link.mid"}, kSong,
        {{"out.mid", kSongOut}}, kSongTrace, 0, {{"sub/link.mid", "-> ../out.mid"}}, kPosix),
    // As many symbolic links as a system call follows, and one more.
    row("forty_links_followed", {"-q", "in.mid", "l40"}, kSong, {{"out.mid", kSongOut}}, "", 0,
        chain(40), kLinux),
    // A link that would lead to a path one byte longer than a path may be is not cut short.
    row("link_past_the_longest_path", {"-q", "in.mid", "d/l.mid"}, kSong, {},
        "file can't write: d/l.mid: File name too long\nERR\n", 1,
        {{"d/l.mid", "-> " + times("a/", 2046) + "bc"}}, kLinux),
    row("links_41", {"-q", "in.mid", "l41"}, kSong, {},
        "file can't write: l41: Too many levels of symbolic links\nERR\n", 1, chain(41), kPosix),
    // In a shared folder, a link is followed when this user or the folder's owner made it.
    row("own_link_in_a_shared_folder", {"-q", "in.mid", "shared/l.mid"}, kSong,
        {{"out.mid", kSongOut}}, "", 0, {{"shared/", ""}, {"shared/l.mid", "-> ../out.mid"}},
        kPosix),
    row("owners_link_in_a_shared_folder", {"-q", "in.mid", "their/their.mid"}, kSong,
        {{"out.mid", kSongOut}}, "", 0, {{"their/", ""}, {"their/their.mid", "-> ../out.mid"}},
        "root"),
    // A path through /proc names a descriptor: the file is written in place, never resolved.
    row("written_through_proc", {"-q", "in.mid", "/proc/self/cwd/out.mid"}, kSong,
        {{"out.mid", kSongOut}}, "", 0, {}, kLinux),
    // A device is written directly: here standard output (a pipe), named through /proc/self/fd,
    // which then gets no trace.
    row("device_written_directly", {"in.mid", "/dev/stdout"}, kCommandFree, {},
        std::string(kCommandFreeBytes.begin(), kCommandFreeBytes.end()), 0, {}, kPosix),
};

const std::vector<Row> kRefusals = {
    row("not_a_midi_file", kInOut, "\"RIFF\"" + kSong.substr(6), {}, "not a MIDI file\nERR\n", 1),
    row("1024_tracks", kInOut,
        "\"MThd\" {00 01 04 00 00 60}" + times(R"("MTrk" {00 FF 2F 00})", 1024), {},
        "too many tracks\nERR\n", 1),
    // The longest text whose SysEx length fits four bytes, cut short.
    row("no_new_output_after_a_failure", {"in.mid", "new.mid"}, kHuge + R"(C0 80 80 04 "$ADD_UP$")",
        {}, "ME 01, size=134217732\nCOM ADD_UP\n" + kEnd + "22)\nERR\n", 1),
    row("text_past_end_of_track", kInOut, song({R"(00 FF 01 0C "$DEL_LO$")", "00 FF 2F 00"}), {},
        "ME 01, size=12\nCOM DEL_LO\ntext event runs past end of track (track 1, byte 22)\nERR\n",
        1),
    row("text_too_long", kInOut, kHuge + R"(C0 80 80 05 "$ADD_UP$")", {},
        "ME 01, size=134217733\nCOM ADD_UP\ntext too long (track 1, byte 22)\nERR\n", 1),
    // The last track's length steps back onto the start of the file; its end lies far past it.
    row("last_track_at_the_start", kInOut, kWrapped, {}, "ME 2F, size=0\n" + kEnd + "14)\nERR\n",
        1),
    // The track declares more than the file holds: the scan meets the file's end, and names it.
    row("track_past_the_end", {"--list", "in.mid"}, kPastTheEnd, {},
        "1\t0\tADD_UP\thi\n" + kEnd + "14)\nERR\n", 1),
    row("list_cut_in_a_text", {"--list", "in.mid"}, R"("MThd" {00 01 00 01 00 60} "MTrk" 00 00 00 20
        00 FF 01 0A "$ADD_UP$a")",
        {}, kEnd + "22)\nERR\n", 1),
    // The second track would begin before the file, which places the fault at its start.
    row("overlap_before_the_file", kQuiet, R"("MThd" {00 01 03 FF 00 60} "MTrk" FF FF FF E0 00)",
        {}, "track overlaps previous track (track 2, byte 0)\nERR\n", 1),
    // A skipped event that ends past the end of the file.
    row("event_past_the_end", kQuiet, song({"00 F0 09 F7"}), {},
        "unexpected end of file (track 1, byte 22)\nERR\n", 1),
    // The last track's length steps back to one byte before the start of the file: the index
    // refuses it before the scan prints the track's first event.
    row("last_track_before_file", kInOut,
        R"("MThd" {00 01 00 01 00 60} "MTrk" FF FF FF EA 00 FF 2F 00)", {}, kEnd + "14)\nERR\n", 1),
    row("no_tracks", kQuiet, song({}), {}, "no tracks\nERR\n", 1),
    row("list_failure", {"--list", "in.mid"}, song({R"(00 FF 01 08 "$DEL_LO$"  80 80 80 80 00)"}),
        {}, "1\t0\tDEL_LO\nvariable-length number too long (track 1, byte 34)\nERR\n", 1),
    row("input_missing", {"missing.mid", "out.mid"}, kSong, {},
        "file can't read: missing.mid: No such file or directory\nERR\n", 1),
    row("list_missing", {"--list", "missing.mid"}, kSong, {},
        "file can't read: missing.mid: No such file or directory\nERR\n", 1),
    row("input_is_a_device", {"/dev/zero", "out.mid"}, kSong, {},
        "file can't read: /dev/zero: not a regular file\nERR\n", 1, {}, kPosix),
    row("output_is_a_directory", {"in.mid", "."}, kSong, {},
        "file can't write: .: Is a directory\nERR\n", 1),
    row("output_directory_missing", {"in.mid", "missing/out.mid"}, kSong, {},
        "file can't write: missing/out.mid: No such file or directory\nERR\n", 1),
    row("song_not_replaced", kInOut, kSong, {},
        "file not replaced: out.mid: " + kSongReason + "ERR\n", 1, {{"out.mid", kSong}}),
    row("link_of_another_user_in_a_shared_folder", {"-q", "in.mid", "shared/their.mid"}, kSong, {},
        "file can't write: shared/their.mid: a link" + kPlanted + "made by another user\nERR\n", 1,
        {{"shared/", ""}, {"shared/their.mid", "-> ../out.mid"}}, "root"),
    row("file_of_another_user_in_a_shared_folder", {"-q", "in.mid", "shared/their.mid"}, kSong, {},
        "file can't write: shared/their.mid: a file" + kPlanted + "owned by another user\nERR\n", 1,
        {{"shared/", ""}, {"shared/their.mid", kOld}}, "root"),
    row("output_is_the_input_by_a_link", {"in.mid", "hard.mid"}, kSong, {}, kSameFile, 1,
        {{"hard.mid", "=> in.mid"}}, "real files"),
    row("device_full", {"in.mid", "/dev/full"}, kSong, {},
        kSongTrace + "file can't write: /dev/full: No space left on device\nERR\n", 1, {}, kLinux),
    // Standard output is the output: the failure's message goes to standard error.
    row("failure_with_stdout_as_output", {"in.mid", "/dev/stdout"}, kBad, {}, "", 1, {}, kPosix),
    row("trace_unwritable", kInOut, kSong, {}, "", 1, {}, kLinux, kTraceToFull),
    // A closed pipe and a file size limit fail the run with its message, not a signal.
    row("trace_unread", kInOut, kSong, {}, "", 1, {}, kPosix, kTraceUnread),
    row("size_limit", kQuiet, kLong, {}, kCantWrite + "File too large\nERR\n", 1, {}, kPosix,
        kFileSizeLimit),
    // The old output is writable in place, but the directory refuses a file to replace it with.
    row("read_only_directory", kInOut, kSong, {}, kCantWrite + "Permission denied\nERR\n", 1, {},
        "root", kAsNobody),
    // Each step of putting the output in place may fail; the old output stays, no new one is left.
    failing("sync_fails", "fsync", kFails),
    // Written in place through /proc, and still synced.
    row("sync_fails_in_place", {"FAIL=fsync", "-q", "in.mid", "/proc/self/cwd/out.mid"}, kSong,
        {{"out.mid", kSongOut}},
        "file can't write: /proc/self/cwd/out.mid: Input/output error\nERR\n", 1, {}, kFails),
    failing("attributes_refused", "fchmod", kFails),
    failing("link_fails", "linkat:1", "unnamed files", "new.mid"),
    failing("hidden_link_fails", "linkat:1", "unnamed files"),
    // The hidden name is taken 99 times and found free the 100th; taken 100 times, the run fails.
    failing("names_taken", "linkat<100", "unnamed files", "out.mid", {{"out.mid", kSongOut}}),
    failing("every_name_taken", "linkat<101", "unnamed files", "out.mid", {},
            "no free name for a hidden file beside it"),
    failing("rename_fails", "renameat", kFails),
    // The next file of the folder, a new one, is not taken for the failed one's hidden name.
    row("folder_after_a_failed_rename", {"FAIL=renameat:1", "-q", "-o", "o", "in.mid", "b.mid"},
        kSong, {{"o/b.mid", kSongOut}}, "in.mid: file can't write: o/in.mid: Input/output error\n",
        1, {{"o/", ""}, {"o/in.mid", kOld}, {"b.mid", kSong}}, "unnamed files"),
    failing("close_fails", "fclose", kFails, "new.mid"),
    // A file system without unnamed files gets a hidden named one; a name found taken, the next.
    failing("no_unnamed_files", "openat64<3", "unnamed files", "out.mid", {{"out.mid", kSongOut}}),
    // A hangup comes with the change, and is ignored as the caller ignores it.
    row("input_changed", kInOut, kLong, {{"in.mid", kLong + R"( "changed")"}},
        kLongTrace + "input changed during conversion\nERR\n", 1, {}, "real files", kChangeInput),
    // Without /proc the output is a hidden named file from the start, which the signal removes.
    row("sigterm", kInOut, kLong, {}, "ME 05, size=8\n", 128 + SIGTERM, {}, "an empty /proc",
        kSigTerm | kWithoutProc),
    // SIGTERM right after the hidden name is made is held off until the name is marked as the
    // run's, to be removed.
    row("sigterm_while_naming", {"FAIL=linkat!1", "-q", "in.mid", "out.mid"}, kSong, {}, "",
        128 + SIGTERM, {}, "unnamed files"),
    row("no_arguments", {}, kSong, {}, "no input files\n", 2),
    row("one_path", {"in.mid"}, kSong, {}, "no output files\n", 2),
    row("three_paths", {"in.mid", "out.mid", "x.mid"}, kSong, {}, "too many arguments\n<usage>", 2),
    row("unknown_option", {"-x", "in.mid", "out.mid"}, kSong, {}, "unknown option -x\n<usage>", 2),
    row("option_o_alone", {"in.mid", "-o"}, kSong, {}, "option -o needs a directory\n<usage>", 2),
    row("list_of_two", {"--list", "in.mid", "out.mid"}, kSong, {},
        "--list takes one input and writes no file\n<usage>", 2),
    row("help", {"-h"}, kSong, {}, "<usage>"),
    row("version", {"--version"}, kSong, {}, "lyric2sysex " LYRIC2SYSEX_VERSION "\n"),
    row("no_folder", {"-o", "in.mid", "x.mid"}, kSong, {}, "not a directory: in.mid\n<usage>", 2),
    row("folder_missing", {"-o", "no", "in.mid"}, kSong, {}, "no such directory: no\n<usage>", 2),
    row("folder_inputs_of_one_name", {"-o", "out", "in.mid", "sub/in.mid"}, kSong, {},
        "two inputs named in.mid\n<usage>", 2, {{"out/", ""}, {"sub/in.mid", kSong}}),
    row("folder_inputs_alike_but_for_case", {"-o", "out", "in.mid", "x/ÉTÉ.mid", "y/été.mid"},
        kSong, {}, "two inputs named ÉTÉ.mid and été.mid\n<usage>", 2, {{"out/", ""}}),
    row("folder_output_is_another_input", {"-o", "out", "in.mid", "d.mid"}, kSong, {},
        "output would be another input: out/in.mid is d.mid\n<usage>", 2,
        {{"out/", ""}, {"d.mid", kSong}, {"out/in.mid", "-> ../d.mid"}}, kPosix),
    row("folder_output_planted", {"-o", "shared", "their.mid"}, kSong, {},
        "output planted in a shared folder by another user: shared/their.mid\n<usage>", 2,
        {{"shared/", ""}, {"their.mid", kSong}, {"shared/their.mid", "-> ../out.mid"}}, "root"),
    row("folder_planted", {"-o", "shared/their/", "in.mid"}, kSong, {},
        "directory planted in a shared folder by another user: shared/their/\n<usage>", 2,
        {{"shared/", ""}, {"o/", ""}, {"shared/their", "-> ../o"}}, "root"),
    row("folder_output_path_too_long", {"-o", "o", times("n", 8190)}, kSong, {},
        "output path too long: " + times("n", 8190) + "\n<usage>", 2, {{"o/", ""}}),
    row("folder_output_is_the_input", {"-o", ".", "in.mid"}, kSong, {},
        "output would be the input itself: in.mid\n<usage>", 2),
};

class Cli : public testing::TestWithParam<Row> {};

TEST_P(Cli, Row) {
    const Row& row = GetParam();
    if (!row.needs.empty() && !targetHas(row.needs))
        GTEST_SKIP() << "needs " << row.needs << ", which this target or user lacks";
    Scratch scratch;
    writeFile("in.mid", hex(row.input));
    writeFile("out.mid", hex(kOld), 02606);
#ifdef __linux__
    setxattr("out.mid", "user.empty", "", 0, 0);
    setxattr("out.mid", "user.origin", "old", 3, 0);
#endif
    for (const auto& [path, what] : row.given) {
        fs::create_directories(fs::path("./" + path).parent_path());
        if (what.rfind("-> ", 0) == 0)
            fs::create_symlink(what.substr(3), path);
        else if (what.rfind("=> ", 0) == 0)
            fs::create_hard_link(what.substr(3), path);
        else if (path.back() != '/')
            writeFile(path, hex(what));
        else if (path.rfind("shared", 0) == 0 || path.rfind("their", 0) == 0)
            fs::permissions(path, fs::perms(01777));
#ifndef _WIN32
        if (std::regex_search(path, std::regex("(^|/)their[^/]*/?$")))
            lchown(path.c_str(), 65534, 65534);
#endif
    }
    Snapshot expected = snapshot();
    for (const auto& [path, listing] : row.made)
        expected[path] = entry(expected, path, hex(listing));
    const Result result = run(row.args, row.how);
    const std::size_t help = row.trace.find("<usage>");
    const std::string trace =
        row.trace.substr(0, help) + (help != std::string::npos ? run({"--help"}).out : "");
    EXPECT_EQ(result.status, row.status);
    // Shown in part: a diff of texts of so many lines would take gtest hours.
    EXPECT_TRUE(result.out == trace) << result.out.substr(0, 4000) << "\n--- instead of:\n"
                                     << trace.substr(0, 4000);
    EXPECT_EQ(snapshot(), expected);
}

INSTANTIATE_TEST_SUITE_P(Runs, Cli, testing::ValuesIn(kRows), Row::nameOf);
INSTANTIATE_TEST_SUITE_P(Refusals, Cli, testing::ValuesIn(kRefusals), Row::nameOf);

// Every cut of a file with commands fails: the trace goes as far as the whole run's did, then
// names the end of the file at a place inside the file; the old output stays and nothing is left
// behind.
TEST(Cuts, EveryCutFailsCleanly) {
    const Bytes whole = hex(kTwoTracks);
    for (std::size_t size = 0; size < whole.size(); ++size) {
        Scratch scratch;
        writeFile("in.mid", Bytes(whole.begin(), whole.begin() + size));
        writeFile("out.mid", hex(kOld));
        const Snapshot before = snapshot();
        const Result result = run(kInOut);
        const std::size_t traced = result.out.rfind(size < 4 ? "not a MIDI" : "unexpected end");
        std::size_t place = 0;
        std::sscanf(result.out.c_str() + traced, "unexpected end of file (track %*u, byte %zu)",
                    &place);
        EXPECT_EQ(result.out.substr(0, traced), kTwoTracksTrace.substr(0, traced)) << size;
        EXPECT_EQ(result.out.substr(result.out.size() - 4), "ERR\n") << size;
        EXPECT_LT(place, std::max<std::size_t>(size, 1)) << size;
        EXPECT_EQ(result.status, 1) << size;
        EXPECT_EQ(snapshot(), before) << size;
    }
}

// The fuzzer's seeds and the inputs it once found failing: each is converted (exit status 0), or
// refused with "ERR" as its last line (exit status 1) and nothing left behind.
TEST(Fuzz, InputsEndCleanly) {
    for (const char* kind : {"/seeds", "/regressions"}) {
        for (const auto& file : fs::directory_iterator(std::string(LYRIC2SYSEX_FUZZ_DIR) + kind)) {
            Scratch scratch;
            const Result result = run({file.path().string(), "out.mid"});
            const std::string out = "\n" + result.out;
            const bool refused = out.size() >= 5 && out.compare(out.size() - 5, 5, "\nERR\n") == 0;
            EXPECT_EQ(result.status, refused ? 1 : 0) << file.path();
            EXPECT_EQ(snapshot().size(), refused ? 0u : 1u) << file.path();
        }
    }
}

}  // namespace
