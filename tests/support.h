// What every test needs: fixtures written as commented hex, a scratch directory, and the real
// converter run as a process of its own, whatever it was built for.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// Fixtures are listings: hex byte pairs, "quoted text" for its bytes, and { } around a chunk's
// data, which then gets its four-byte length in front; '#' starts a comment that runs to the
// end of the line.
Bytes hex(const std::string& listing);
// A whole file: the header chunk (format 1, one track per listing, 96 ticks per quarter note),
// then a track chunk around each listing's events.
std::string song(const std::vector<std::string>& tracks);
void writeFile(const std::string& path, const Bytes& bytes, unsigned mode = 0644);

// LYRIC2SYSEX_TARGET (posix, windows or wasm; by default the system the tests are built for) tells
// what the binary under test can do besides converting: "posix file system" (permission bits,
// extended attributes, symbolic links, devices), "signals", "root" (running as another user: the
// tests run as root) and "real files" (the test's own, not copies as wasm's are: hard links,
// changes made during a run); on Linux alone, "linux" (its /proc, /dev/full, forty symbolic links
// in a path), "injected failures" (a native binary, unwrapped and unsanitized), "unnamed files"
// (the same, the build's own, which writes through unnamed files) and "an empty /proc" (the same,
// run by root).
bool targetHas(std::string_view capability);

// A fresh directory (mode 0755), the current one while the object lives, removed afterwards.
struct Scratch {
    Scratch();
    ~Scratch();
    std::filesystem::path root;
};

// Every entry under the current directory: its permission bits, its attribute user.origin and the
// names of its attributes where the target has them, and its contents; or a symbolic link's target.
using Snapshot = std::map<std::string, std::string>;
Snapshot snapshot();
// The entry of a file written with these bytes: a file of the snapshot keeps its permission bits
// and attributes, a new one gets 0666 less the umask that the converter runs with, 027.
std::string entry(const Snapshot& before, const std::string& path, const Bytes& bytes);

// How the converter runs, always ignoring SIGHUP as under nohup: plainly, with its standard
// output on /dev/full or on a pipe nobody reads, under a file size limit of 4 KiB, as the user
// nobody, or with something done as soon as it has printed its first line: its input file
// (in.mid) changed and SIGHUP sent, or SIGTERM sent; and any of these with an empty /proc (as
// root).
enum How { kRun, kTraceToFull, kTraceUnread, kFileSizeLimit, kAsNobody, kChangeInput, kSigTerm };
constexpr int kWithoutProc = 16;

struct Result {
    std::string out;
    int status = -1;  // 128 + the signal's number when a signal ended the process
};

// Runs LYRIC2SYSEX_BINARY in the current directory, behind the command LYRIC2SYSEX_WRAPPER
// names if any (valgrind, wine, node with its loader). An argument "FAIL=call[:n]" is not passed:
// it makes that C library call (its nth call) fail in the converter (on Linux). On Windows it runs
// only plainly or with its input changed.
Result run(const std::vector<std::string>& args, int how = kRun);
