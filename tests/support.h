// Helpers for the tests: fixtures written as commented hex, scratch directories, and running
// the real converter binary.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// Parses hex byte pairs separated by white space; '#' starts a comment to the end of the line.
Bytes hexBytes(std::string_view text);
Bytes concat(std::initializer_list<Bytes> parts);
// The bytes of a string, for texts inside fixtures.
Bytes textBytes(std::string_view text);
std::string hexString(const Bytes& bytes);
// A track chunk around the events, its length field counted from them.
Bytes trackChunk(const Bytes& events);

void writeFile(const std::string& path, const Bytes& bytes);
Bytes readFile(const std::string& path);
bool fileExists(const std::string& path);
std::vector<std::string> listDirectory(const std::string& path);

// A fresh directory under the system's temporary directory, removed with its contents at the
// end of the scope.
struct ScratchDir {
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string path(std::string_view name) const;
    std::string root;
};

struct RunResult {
    std::string out;       // everything printed on standard output
    int exit_status = -1;  // -1 when killed by a signal
    int signal = 0;
};

// How the converter's process is set up, beyond its arguments.
struct RunOptions {
    int umask = -1;             // the process's umask, when not -1
    long file_size_limit = -1;  // RLIMIT_FSIZE in bytes, with SIGXFSZ ignored, when not -1
    unsigned user = 0;          // run as this user id (and group id), when not 0
    std::string stdout_path;    // standard output goes to this file instead of the result
    std::vector<std::string> environment;  // "NAME=value" settings added to the environment
};

// Runs the converter with these arguments; LYRIC2SYSEX_WRAPPER (e.g. "valgrind -q
// --error-exitcode=99") is put before it when set.
RunResult runConverter(const std::vector<std::string>& args, const RunOptions& options = {});

// Starts the converter with its standard output on a pipe that the caller reads or leaves
// full, so that the run stops where the caller wants it.
struct Started {
    int pid = -1;
    int out_fd = -1;
};
Started startConverter(const std::vector<std::string>& args, const RunOptions& options = {});
// Waits for the process; returns its result with whatever is left on its pipe.
RunResult finishConverter(const Started& started);

// The path of the converter binary under test.
const char* converterPath();
