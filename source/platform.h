// What differs between operating systems, and nothing else: how files are opened, identified,
// replaced and made durable, how a run is cleaned up when interrupted, how standard output is set
// up and how the program's arguments arrive. One file per family implements it
// (platform_posix.cpp, windows/platform_windows.cpp); the conversion itself is plain stdio code.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

// Called once, first: standard output binary, interrupts and the signals that must not end a run
// taken care of, the arguments as UTF-8 (the strings live as long as the process).
void platformStart(int* argc, char*** argv);

// The few names that differ between the C runtimes: writing a byte without taking the stream's
// lock, seeking by a 64-bit offset, and the characters that separate the parts of a path.
#ifdef _WIN32
#define platformPutByte _putc_nolock
#define platformSeekStream _fseeki64
using FileOffset = long long;
constexpr char kPathSeparators[] = "/\\";
#else
#define platformPutByte putc_unlocked
#define platformSeekStream fseeko
using FileOffset = off_t;
constexpr char kPathSeparators[] = "/";
#endif

inline bool platformSeek(std::FILE* stream, std::uint64_t offset) {
    return platformSeekStream(stream, static_cast<FileOffset>(offset), SEEK_SET) == 0;
}

inline bool platformIsPathSeparator(char c) {
    return c != '\0' && std::strchr(kPathSeparators, c) != nullptr;
}

// Tells two names of one file apart from two files, and a file from itself changed.
struct FileIdentity {
    std::uint64_t device;  // Windows: the volume serial number
    std::uint64_t file;    // Windows: the file index
    std::uint64_t size;
    std::int64_t modified_ns;
    std::int64_t changed_ns;
};

// Opens an existing regular file for binary reading, and fills its identity; nullptr for
// anything else, the identity left as it was.
std::FILE* platformOpenInput(const char* path, FileIdentity* identity);
// Leaves the identity as it was when the open file cannot be examined.
void platformIdentify(std::FILE* file, FileIdentity* identity);
// Whether the path names the file of this identity (through any link or other spelling).
bool platformIsSameFile(const char* path, const FileIdentity& identity);
bool platformIsDirectory(const char* path);

// The output. Until it is committed, the output path is as it was before the run: a new file is
// written under another name (or unnamed) and put in place at the end. Paths that are not
// regular files (devices, pipes) are written directly.
std::FILE* platformCreateOutput(const char* path);
// Flushes the data to the disk and puts the file in place; false when anything of that fails,
// and the output path is then as it was.
bool platformCommitOutput();
// Removes whatever a failed run created. Safe to call at any time, also when nothing was created.
void platformDiscardOutput();

// Runs program(argc, argv) in a process of its own and gives its exit status; INT_MAX when it
// could not be run or did not end by itself. Where a process cannot share this one's memory, it
// is this program started anew with argv.
int platformRunApart(int (*program)(int, char**), int argc, char** argv);
