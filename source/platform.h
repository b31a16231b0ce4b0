// What differs between operating systems, and nothing else: how files are opened, identified,
// replaced and made durable, how a run is cleaned up when interrupted, how standard output is set
// up and how the program's arguments arrive. One file per family implements it
// (platform_posix.cpp, windows/platform_windows.cpp); the conversion itself is plain stdio code.
#pragma once

#include <sys/types.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

// Every block the program reads, writes or gathers at once: whole file-system blocks, so that
// reads and writes stay aligned.
constexpr std::size_t kBlockSize = 128 * 1024;
static_assert(kBlockSize % 4096 == 0, "a block is a whole number of file-system blocks");

// How the program was started.
struct PlatformStart {
    // Where no shell expands wildcards (Windows), the unquoted patterns are replaced by the files
    // they match, as the system's C runtime would; this is the first that matches nothing, if any.
    const char* unmatched_pattern;
    // By Explorer, in a console window of its own that closes when the program ends (Windows).
    bool from_explorer;
};

// Called once, first: standard output binary, interrupts and the signals that must not end a run
// taken care of, the arguments as UTF-8 (the strings live as long as the process).
PlatformStart platformStart(int* argc, char*** argv);
// Waits for a key on the console, so that a window of its own stays open to be read.
void platformWaitForKey();

// Writes text to standard output or standard error: to a console as characters that it shows
// whatever its code page (Windows), anywhere else as the bytes they are. False when it could not.
bool platformWriteText(std::FILE* stream, const char* text, std::size_t size);

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

// The last component of a path: what follows its last separator.
inline const char* platformFileName(const char* path) {
    const char* name = path;
    for (const char* c = path; *c != '\0'; ++c) {
        if (platformIsPathSeparator(*c)) {
            name = c + 1;
        }
    }
    return name;
}

// Tells two names of one file apart from two files, and a file from itself changed.
struct FileIdentity {
    std::uint64_t device;  // Windows: the volume serial number
    std::uint64_t file;    // Windows: the file index
    std::uint64_t size;
    std::int64_t modified_ns;
    std::int64_t changed_ns;
};

// A call of this layer that fails leaves its reason in errno: the system's error number (the
// Windows layer maps its error codes to those), or one of the program's own reasons, negative so
// that they are no system's number.
enum FailureReason : int {
    REASON_NO_FREE_HIDDEN_NAME = INT_MIN,
    REASON_LINK_OF_ANOTHER_USER,  // a link in a shared folder that the kernel would not follow
    REASON_FILE_OF_ANOTHER_USER,  // a file in a shared folder that this user may not replace
    REASON_NOT_A_REGULAR_FILE,
    REASON_OUTPUT_IS_A_SONG,  // the conversion's own: an old output that holds commands
};

// Opens an existing regular file for binary reading, and fills its identity; nullptr for
// anything else, the identity left as it was.
std::FILE* platformOpenInput(const char* path, FileIdentity* identity);
// Leaves the identity as it was when the open file cannot be examined.
void platformIdentify(std::FILE* file, FileIdentity* identity);
// The identity of the file the path names, links followed; false when there is none.
bool platformIdentifyPath(const char* path, FileIdentity* identity);
// Whether the path names the file that standard output writes to.
bool platformIsStandardOutput(const char* path);

enum PathKind { PATH_MISSING, PATH_DIRECTORY, PATH_OTHER };
PathKind platformPathKind(const char* path);

// Whether a file may be written at the path: a link on the way is one this user may follow, and
// an existing file there one this user may replace, by the kernel's rules for shared folders,
// applied whatever the system's settings. Checks only; false with the reason in errno.
bool platformMayWrite(const char* path);

// The output. Until it is committed, the output path is as it was before the run: a new file is
// written under another name (or unnamed) and put in place at the end. Paths that are not
// regular files (devices, pipes) are written directly. The path is checked as platformMayWrite
// checks it.
std::FILE* platformCreateOutput(const char* path);
// Flushes the data to the disk and puts the file in place; false when anything of that fails,
// and the output path is then as it was.
bool platformCommitOutput();
// Ends the output of a conversion, committed or not: what was not committed is removed, and what
// the conversion held is released. Safe to call at any time, also when nothing was created.
void platformCloseOutput();
