// The program entry through the real binary: arguments, the files it opens, the track index,
// and the promise that the output path is replaced only by a complete run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <string>

#include "support.h"

namespace {

const Bytes kSmallSong = hexBytes(R"(
    4D 54 68 64 00 00 00 06 00 00 00 01 00 60  # header: format 0, one track
    4D 54 72 6B 00 00 00 14                    # MTrk, 20 bytes
    00 FF 05 08 24 44 45 4C 5F 55 4C 24        # Lyric "$DEL_UL$"
    00 90 3C 40                                # note on
    00 FF 2F 00                                # end of track
)");
const Bytes kSmallSongConverted = hexBytes(R"(
    4D 54 68 64 00 00 00 06 00 00 00 01 00 60  # header unchanged
    4D 54 72 6B 00 00 00 12                    # MTrk, 18 bytes
    00 F0 07 00 48 05 7F 06 00 F7              # delete both lines
    00 90 3C 40
    00 FF 2F 00
)");
const char* const kSmallSongTrace = "ME 05, size=8\nCOM DEL_UL\nNOTE ON\nME 2F, size=0\n";

// A header declaring this many tracks, each holding an end of track only.
Bytes emptyTracks(unsigned count) {
    Bytes file = hexBytes("4D 54 68 64 00 00 00 06 00 01");
    file.push_back(static_cast<std::uint8_t>(count >> 8));
    file.push_back(static_cast<std::uint8_t>(count));
    file.push_back(0x00);
    file.push_back(0x60);
    for (unsigned i = 0; i < count; ++i) {
        const Bytes chunk = hexBytes("4D 54 72 6B 00 00 00 04 00 FF 2F 00  # MTrk, end of track");
        file.insert(file.end(), chunk.begin(), chunk.end());
    }
    return file;
}

std::string repeated(const std::string& line, unsigned count) {
    std::string text;
    for (unsigned i = 0; i < count; ++i)
        text += line;
    return text;
}

mode_t permissionBits(const std::string& path) {
    struct stat status;
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

void makeSparseFile(const std::string& path, off_t size) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
}

struct ArgumentCase {
    std::vector<std::string> args;
    std::string out_starts_with;
    int exit_status;
};

TEST(Arguments, MissingArgumentsAndOptions) {
    const ArgumentCase cases[] = {
        {{}, "no input files\n", 2},
        {{"in.mid"}, "no output files\n", 2},
        {{"-h"}, "usage: lyric2sysex input.mid output.mid\n", 0},
        {{"--help", "in.mid", "out.mid"}, "usage: lyric2sysex input.mid output.mid\n", 0},
        {{"--version"}, "lyric2sysex " LYRIC2SYSEX_VERSION "\n", 0},
    };
    for (const ArgumentCase& c : cases) {
        ScratchDir dir;
        std::vector<std::string> args;
        for (const std::string& arg : c.args)
            args.push_back(arg[0] == '-' ? arg : dir.path(arg));
        writeFile(dir.path("in.mid"), kSmallSong);
        const RunResult run = runConverter(args);
        EXPECT_EQ(run.exit_status, c.exit_status) << run.out;
        EXPECT_EQ(run.out.compare(0, c.out_starts_with.size(), c.out_starts_with), 0) << run.out;
        if (c.exit_status == 2) {
            EXPECT_EQ(run.out, c.out_starts_with);
        }
        EXPECT_EQ(listDirectory(dir.root), std::vector<std::string>{"in.mid"});
    }
}

TEST(Arguments, FurtherArgumentsAreIgnored) {
    ScratchDir dir;
    writeFile(dir.path("in.mid"), kSmallSong);
    const RunResult run = runConverter({dir.path("in.mid"), dir.path("out.mid"), "extra"});
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.out, kSmallSongTrace);
    EXPECT_EQ(readFile(dir.path("out.mid")), kSmallSongConverted);
}

struct RefusalCase {
    const char* name;
    std::function<void(const ScratchDir&)> prepare;  // makes "in.mid" and whatever else
    const char* output;                              // the output path under the directory
    const char* trace;
};

const RefusalCase kRefusals[] = {
    {"a missing input", [](const ScratchDir&) {}, "out.mid", "file can't read\nERR\n"},
    {"an input that is a directory",
     [](const ScratchDir& d) { mkdir(d.path("in.mid").c_str(), 0755); }, "out.mid",
     "file can't read\nERR\n"},
    {"an input that is a FIFO", [](const ScratchDir& d) { mkfifo(d.path("in.mid").c_str(), 0644); },
     "out.mid", "file can't read\nERR\n"},
    {"an output that is a directory",
     [](const ScratchDir& d) {
         writeFile(d.path("in.mid"), kSmallSong);
         mkdir(d.path("out.mid").c_str(), 0755);
     },
     "out.mid", "file can't write\nERR\n"},
    {"an output in a missing directory",
     [](const ScratchDir& d) { writeFile(d.path("in.mid"), kSmallSong); }, "missing/out.mid",
     "file can't write\nERR\n"},
    {"a header cut short",
     [](const ScratchDir& d) {
         writeFile(d.path("in.mid"), hexBytes("4D 54 68 64 00 00 00 06 00 00 00"));
     },
     "out.mid", "ERR\n"},
    {"no tracks declared", [](const ScratchDir& d) { writeFile(d.path("in.mid"), emptyTracks(0)); },
     "out.mid", "no tracks\nERR\n"},
    {"1,024 tracks declared",
     [](const ScratchDir& d) { writeFile(d.path("in.mid"), emptyTracks(1024)); }, "out.mid",
     "ERR\n"},
    {"a declared track without its chunk",
     [](const ScratchDir& d) {
         Bytes file = emptyTracks(1);
         file[11] = 2;  // declares two tracks
         writeFile(d.path("in.mid"), file);
     },
     "out.mid", "ERR\n"},
    {"a last track over 2 GiB steps before the start of the file",
     [](const ScratchDir& d) {
         writeFile(d.path("in.mid"), hexBytes(R"(
             4D 54 68 64 00 00 00 06 00 00 00 01 00 60  # header, one track
             4D 54 72 6B 90 00 00 00                    # MTrk, 0x90000000 bytes
             00 FF 2F 00)"));
     },
     "out.mid", "ERR\n"},
    {"an input of 4 GiB", [](const ScratchDir& d) { makeSparseFile(d.path("in.mid"), 1LL << 32); },
     "out.mid", "file too large\nERR\n"},
    {"an input of 4 GiB less one byte (all zeros)",
     [](const ScratchDir& d) { makeSparseFile(d.path("in.mid"), (1LL << 32) - 1); }, "out.mid",
     "no tracks\nERR\n"},
    {"an output directory is refused before the size is checked",
     [](const ScratchDir& d) {
         makeSparseFile(d.path("in.mid"), 1LL << 32);
         mkdir(d.path("out.mid").c_str(), 0755);
     },
     "out.mid", "file can't write\nERR\n"},
};

TEST(Refusal, EndsWithItsMessageAndCreatesNothing) {
    for (const RefusalCase& c : kRefusals) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        c.prepare(dir);
        const std::vector<std::string> before = listDirectory(dir.root);
        const RunResult run = runConverter({dir.path("in.mid"), dir.path(c.output)});
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_EQ(run.out, c.trace);
        EXPECT_EQ(listDirectory(dir.root), before);
    }
}

TEST(TrackIndex, AcceptsTheLargestTrackCount) {
    ScratchDir dir;
    const Bytes input = emptyTracks(1023);
    writeFile(dir.path("in.mid"), input);
    const RunResult run = runConverter({dir.path("in.mid"), dir.path("out.mid")});
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.out, repeated("ME 2F, size=0\n", 1023));
    EXPECT_EQ(readFile(dir.path("out.mid")), input);
}

// Offsets are 32 bits wide: a length that carries the scan past 4 GiB reaches beyond the end of
// any input accepted, and must not wrap around to the start of the file and scan it again.
TEST(TrackIndex, ALengthThatPassesFourGiBMeetsTheEndOfTheFile) {
    ScratchDir dir;
    const int fd = open(dir.path("in.mid").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const auto put = [fd](off_t offset, const Bytes& bytes) {
        ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), offset),
                  static_cast<ssize_t>(bytes.size()));
    };
    const Bytes skip = hexBytes("00 FF 7F FF FF FF 7F  # sequencer specific, 0x0FFFFFFF bytes");
    const off_t skip_size = 7 + 0x0FFFFFFF;
    // Two tracks of nearly 2 GiB each, crossed by eight such events apiece; the file is sparse.
    put(0, hexBytes(R"(
        4D 54 68 64 00 00 00 06 00 01 00 02 00 60  # header: format 1, two tracks
        4D 54 72 6B 7F FF FF F0                    # MTrk, 0x7FFFFFF0 bytes)"));
    put(0x80000006, hexBytes("4D 54 72 6B 7F FF FF F0  # MTrk, 0x7FFFFFF0 bytes"));
    for (int k = 0; k < 8; ++k) {
        put(22 + k * skip_size, skip);
        put(0x8000000E + k * skip_size, skip);  // the last one ends past 4 GiB
    }
    // Where the end of the last event would land if offsets wrapped around.
    put(0x3E, hexBytes("00 FF 01 03 61 62 63  # Text \"abc\""));
    close(fd);
    const RunResult run = runConverter({dir.path("in.mid"), dir.path("out.mid")});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, repeated("ME 7F, size=268435455\n", 16) + "unexpected end of file\nERR\n");
}

TEST(SameFile, IsRefusedAndTheInputKept) {
    const std::function<std::string(const ScratchDir&)> other_names[] = {
        [](const ScratchDir& d) { return d.path("in.mid"); },
        [](const ScratchDir& d) { return d.path("./in.mid"); },
        [](const ScratchDir& d) {
            link(d.path("in.mid").c_str(), d.path("hard.mid").c_str());
            return d.path("hard.mid");
        },
        [](const ScratchDir& d) {
            symlink("in.mid", d.path("soft.mid").c_str());
            return d.path("soft.mid");
        },
    };
    for (const auto& other_name : other_names) {
        ScratchDir dir;
        writeFile(dir.path("in.mid"), kSmallSong);
        const std::string output = other_name(dir);
        const RunResult run = runConverter({dir.path("in.mid"), output});
        EXPECT_EQ(run.exit_status, 1) << output;
        EXPECT_EQ(run.out, "input and output are the same file\nERR\n") << output;
        EXPECT_EQ(readFile(dir.path("in.mid")), kSmallSong) << output;
    }
}

// A song whose trace fills the pipe of a caller that does not read it: the run stops there,
// with its output half written.
Bytes longSong() {
    Bytes events;
    for (int i = 0; i < 200000; ++i) {
        const Bytes note = hexBytes("00 90 3C 40  # note on");
        events.insert(events.end(), note.begin(), note.end());
    }
    const Bytes end = hexBytes("00 FF 2F 00");
    events.insert(events.end(), end.begin(), end.end());
    return concat(
        {hexBytes("4D 54 68 64 00 00 00 06 00 00 00 01 00 60  # one track"), trackChunk(events)});
}

TEST(Interrupt, LeavesTheOutputPathAsItWas) {
    const Bytes input = longSong();
    const Bytes previous = textBytes("the output as it was before");
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
        for (const bool output_existed : {true, false}) {
            SCOPED_TRACE("signal " + std::to_string(signal_number) +
                         (output_existed ? ", output existed" : ", no output before"));
            ScratchDir dir;
            writeFile(dir.path("in.mid"), input);
            if (output_existed)
                writeFile(dir.path("out.mid"), previous);
            const Started started = startConverter({dir.path("in.mid"), dir.path("out.mid")});
            char first;
            ASSERT_EQ(read(started.out_fd, &first, 1), 1);  // the run is under way
            kill(started.pid, signal_number);
            const RunResult run = finishConverter(started);
            EXPECT_EQ(run.signal, signal_number);
            if (output_existed) {
                EXPECT_EQ(readFile(dir.path("out.mid")), previous);
                EXPECT_EQ(listDirectory(dir.root).size(), 2u);
            } else {
                EXPECT_EQ(listDirectory(dir.root), std::vector<std::string>{"in.mid"});
            }
        }
    }
}

// Where the file system refuses unnamed temporary files, the output is first a hidden file
// beside the output path, which neither a failure nor an interrupt leaves behind.
TEST(OutputFile, FallsBackToAHiddenNamedFile) {
    RunOptions options;
    options.umask = 027;
    options.environment = {std::string("LD_PRELOAD=") + REFUSE_TMPFILE_LIBRARY,
                           "ASAN_OPTIONS=verify_asan_link_order=0"};
    {
        ScratchDir dir;
        writeFile(dir.path("in.mid"), kSmallSong);
        const RunResult run = runConverter({dir.path("in.mid"), dir.path("out.mid")}, options);
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_EQ(run.out, kSmallSongTrace);
        EXPECT_EQ(readFile(dir.path("out.mid")), kSmallSongConverted);
        EXPECT_EQ(permissionBits(dir.path("out.mid")), 0640);
        EXPECT_EQ(listDirectory(dir.root).size(), 2u);
    }
    {
        ScratchDir dir;
        writeFile(dir.path("in.mid"), Bytes(kSmallSong.begin(), kSmallSong.end() - 1));
        writeFile(dir.path("out.mid"), textBytes("old"));
        const RunResult run = runConverter({dir.path("in.mid"), dir.path("out.mid")}, options);
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_EQ(readFile(dir.path("out.mid")), textBytes("old"));
        EXPECT_EQ(listDirectory(dir.root).size(), 2u);
    }
    const Bytes input = longSong();
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE("signal " + std::to_string(signal_number));
        ScratchDir dir;
        writeFile(dir.path("in.mid"), input);
        writeFile(dir.path("out.mid"), textBytes("old"));
        const Started started = startConverter({dir.path("in.mid"), dir.path("out.mid")}, options);
        char first;
        ASSERT_EQ(read(started.out_fd, &first, 1), 1);
        EXPECT_EQ(listDirectory(dir.root).size(), 3u) << "the hidden file is there mid-run";
        kill(started.pid, signal_number);
        EXPECT_EQ(finishConverter(started).signal, signal_number);
        EXPECT_EQ(readFile(dir.path("out.mid")), textBytes("old"));
        EXPECT_EQ(listDirectory(dir.root).size(), 2u);
    }
}

TEST(OutputFile, NewFileTakesTheUmask) {
    for (const int mask : {022, 027, 0}) {
        ScratchDir dir;
        writeFile(dir.path("in.mid"), kSmallSong);
        RunOptions options;
        options.umask = mask;
        const RunResult run = runConverter({dir.path("in.mid"), dir.path("out.mid")}, options);
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_EQ(permissionBits(dir.path("out.mid")), 0666 & ~mask) << mask;
        EXPECT_EQ(readFile(dir.path("out.mid")), kSmallSongConverted);
    }
}

TEST(OutputFile, ReplacedFileKeepsItsPermissionBits) {
    for (const mode_t mode : {0600, 0644, 0751, 0666}) {
        ScratchDir dir;
        writeFile(dir.path("in.mid"), kSmallSong);
        writeFile(dir.path("out.mid"), textBytes("old"));
        chmod(dir.path("out.mid").c_str(), mode);
        RunOptions options;
        options.umask = 077;
        const RunResult run = runConverter({dir.path("in.mid"), dir.path("out.mid")}, options);
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_EQ(permissionBits(dir.path("out.mid")), mode);
        EXPECT_EQ(readFile(dir.path("out.mid")), kSmallSongConverted);
        EXPECT_EQ(listDirectory(dir.root).size(), 2u);
    }
}

TEST(OutputFile, SymbolicLinkGetsItsTargetReplaced) {
    for (const bool target_exists : {true, false}) {
        ScratchDir dir;
        writeFile(dir.path("in.mid"), kSmallSong);
        mkdir(dir.path("songs").c_str(), 0755);
        if (target_exists)
            writeFile(dir.path("songs/target.mid"), textBytes("old"));
        symlink("songs/target.mid", dir.path("link.mid").c_str());
        const RunResult run = runConverter({dir.path("in.mid"), dir.path("link.mid")});
        EXPECT_EQ(run.exit_status, 0);
        struct stat status;
        ASSERT_EQ(lstat(dir.path("link.mid").c_str(), &status), 0);
        EXPECT_TRUE(S_ISLNK(status.st_mode));
        EXPECT_EQ(readFile(dir.path("songs/target.mid")), kSmallSongConverted);
        EXPECT_EQ(listDirectory(dir.path("songs")), std::vector<std::string>{"target.mid"});
    }
}

TEST(OutputFile, DevicesAreWrittenDirectly) {
    ScratchDir dir;
    writeFile(dir.path("in.mid"), kSmallSong);
    const RunResult to_null = runConverter({dir.path("in.mid"), "/dev/null"});
    EXPECT_EQ(to_null.exit_status, 0);
    EXPECT_EQ(to_null.out, kSmallSongTrace);
    const RunResult to_full = runConverter({dir.path("in.mid"), "/dev/full"});
    EXPECT_EQ(to_full.exit_status, 1);
    EXPECT_EQ(to_full.out, std::string(kSmallSongTrace) + "file can't write\nERR\n");
}

TEST(OutputFile, ATraceThatCannotBeWrittenFailsTheRun) {
    ScratchDir dir;
    writeFile(dir.path("in.mid"), kSmallSong);
    RunOptions options;
    options.stdout_path = "/dev/full";
    const RunResult run = runConverter({dir.path("in.mid"), dir.path("out.mid")}, options);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(listDirectory(dir.root), std::vector<std::string>{"in.mid"});
}

TEST(OutputFile, FullDiskFailsAndKeepsTheOldOutput) {
    ScratchDir dir;
    const Bytes input = longSong();
    writeFile(dir.path("in.mid"), input);
    writeFile(dir.path("out.mid"), textBytes("old"));
    RunOptions options;
    options.file_size_limit = 4096;
    const RunResult run = runConverter({dir.path("in.mid"), dir.path("out.mid")}, options);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out.substr(run.out.size() - 21), "file can't write\nERR\n");
    EXPECT_EQ(readFile(dir.path("out.mid")), textBytes("old"));
    EXPECT_EQ(listDirectory(dir.root).size(), 2u);
}

TEST(OutputFile, ReadOnlyDirectoryFailsAndKeepsTheOldOutput) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the converter as another user";
    }
    constexpr unsigned kNobody = 65534;
    ScratchDir dir;
    chmod(dir.root.c_str(), 0755);
    writeFile(dir.path("in.mid"), kSmallSong);
    mkdir(dir.path("ro").c_str(), 0755);
    writeFile(dir.path("ro/out.mid"), textBytes("old"));
    // Writable in place, but the directory refuses the new file that would replace it.
    chmod(dir.path("ro/out.mid").c_str(), 0666);
    chmod(dir.path("ro").c_str(), 0555);
    RunOptions options;
    options.user = kNobody;
    for (const char* output : {"ro/out.mid", "ro/new.mid"}) {
        const RunResult run = runConverter({dir.path("in.mid"), dir.path(output)}, options);
        EXPECT_EQ(run.exit_status, 1) << output;
        EXPECT_EQ(run.out, "file can't write\nERR\n") << output;
    }
    EXPECT_EQ(readFile(dir.path("ro/out.mid")), textBytes("old"));
    EXPECT_EQ(listDirectory(dir.path("ro")), std::vector<std::string>{"out.mid"});
}

}  // namespace
