// The platform layer of Windows. Paths and arguments go through the wide (UTF-16) APIs and are
// UTF-8 everywhere else, so that any file name works whatever the ANSI code page.
// rand_s, for the hidden file's name, is declared only on request.
#define _CRT_RAND_S
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "../platform.h"

namespace {

// The longest path the wide APIs accept, and the longest command line.
constexpr DWORD kPathCapacity = 32768;
using WidePath = wchar_t[kPathCapacity];

// Windows' error codes as the errno values that name the same failure, so that every build
// gives the same reasons; a code without one keeps a value that no reason has.
struct ErrorMeaning {
    DWORD error;
    int reason;
};
constexpr ErrorMeaning kErrorMeanings[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT},
    {ERROR_PATH_NOT_FOUND, ENOENT},
    {ERROR_INVALID_DRIVE, ENOENT},
    {ERROR_BAD_NETPATH, ENOENT},
    {ERROR_ACCESS_DENIED, EACCES},
    {ERROR_SHARING_VIOLATION, EACCES},
    {ERROR_LOCK_VIOLATION, EACCES},
    {ERROR_WRITE_PROTECT, EROFS},
    {ERROR_DISK_FULL, ENOSPC},
    {ERROR_HANDLE_DISK_FULL, ENOSPC},
    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
    {ERROR_INVALID_NAME, EINVAL},
    {ERROR_DIRECTORY, ENOTDIR},
    {ERROR_NOT_READY, EIO},
    {ERROR_CRC, EIO},
    {ERROR_TOO_MANY_OPEN_FILES, EMFILE},
    {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
    {ERROR_CANT_RESOLVE_FILENAME, ELOOP},
    {ERROR_FILE_EXISTS, EEXIST},
    {ERROR_ALREADY_EXISTS, EEXIST},
};

// Leaves the reason of the Win32 call that just failed in errno, as the C runtime's calls do.
void keepLastError() {
    const DWORD error = GetLastError();
    errno = EIO;
    for (const ErrorMeaning& meaning : kErrorMeanings) {
        if (meaning.error == error) {
            errno = meaning.reason;
        }
    }
}

bool widen(const char* text, wchar_t* wide) {
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide,
                            static_cast<int>(kPathCapacity)) > 0) {
        return true;
    }
    errno = GetLastError() == ERROR_INSUFFICIENT_BUFFER ? ENAMETOOLONG : EINVAL;
    return false;
}

// The paths of the input checks, converted one at a time by the thread that converts.
WidePath scratch_path;

HANDLE handleOf(std::FILE* stream) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

// Times come as 100-nanosecond ticks since 1601; the identity holds nanoseconds since 1970.
std::int64_t nanosecondsSince1970(LARGE_INTEGER ticks) {
    constexpr std::int64_t kTicksFrom1601To1970 = 116444736000000000;
    return (ticks.QuadPart - kTicksFrom1601To1970) * 100;
}

bool identify(HANDLE handle, FileIdentity* identity) {
    BY_HANDLE_FILE_INFORMATION information;
    FILE_BASIC_INFO times;
    if (GetFileInformationByHandle(handle, &information) == 0 ||
        GetFileInformationByHandleEx(handle, FileBasicInfo, &times, sizeof times) == 0) {
        return false;
    }
    identity->device = information.dwVolumeSerialNumber;
    identity->file = std::uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow;
    identity->size = std::uint64_t{information.nFileSizeHigh} << 32 | information.nFileSizeLow;
    identity->modified_ns = nanosecondsSince1970(times.LastWriteTime);
    identity->changed_ns = nanosecondsSince1970(times.ChangeTime);
    return true;
}

bool isDirectory(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileInformationByHandle(handle, &information) != 0 &&
           (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Opens whatever the path names, a directory too, links followed, to ask what it is.
HANDLE openForAttributes(const char* path) {
    if (!widen(path, scratch_path)) {
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE handle = CreateFileW(scratch_path, FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        keepLastError();
    }
    return handle;
}

// Where the output goes: written directly (a device, a pipe), or into a hidden temporary file
// beside the output that replaces it at the end.
enum OutputMode { OUTPUT_DIRECT, OUTPUT_TEMPORARY };

struct OutputState {
    OutputMode mode;
    std::FILE* stream;
    HANDLE handle;        // the stream's
    DWORD writer_thread;  // the thread that writes the stream, the only one that closes it
    bool target_exists;
    bool temporary_exists;
    bool marked_for_deletion;
    WidePath target_path;  // the file a plain write would reach, links followed
    WidePath temporary_path;
} output;

// The console control handler runs on a thread of its own: the temporary file is created, put
// in place and removed under this lock, so that the handler finds it either whole or gone.
SRWLOCK output_lock = SRWLOCK_INIT;

class OutputLock {
   public:
    OutputLock() { AcquireSRWLockExclusive(&output_lock); }
    ~OutputLock() { ReleaseSRWLockExclusive(&output_lock); }
    OutputLock(const OutputLock&) = delete;
    OutputLock& operator=(const OutputLock&) = delete;
};

bool closeStream() {
    const bool closed = std::fclose(output.stream) == 0;
    output.stream = nullptr;
    output.handle = nullptr;
    return closed;
}

// The temporary file is opened sharing deletion, so that its name can be removed while the
// stream still holds it: the control handler does so without touching the stream. Called with
// the lock held.
void removeTemporaryFile() {
    if (!output.temporary_exists) {
        return;
    }
    if (output.stream != nullptr && GetCurrentThreadId() == output.writer_thread) {
        closeStream();
    }
    DeleteFileW(output.temporary_path);
    output.temporary_exists = false;
}

std::FILE* streamOf(HANDLE handle) {
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd == -1) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* stream = _fdopen(fd, "wb");
    if (stream == nullptr) {
        _close(fd);
    }
    return stream;
}

bool isSeparator(const wchar_t* path, const wchar_t* c) {
    return *c == L'\\' || *c == L'/' || (*c == L':' && c == path + 1);
}

// The last component of a path; after "C:" in a path relative to a drive's current directory.
const wchar_t* fileNameOf(const wchar_t* path) {
    const wchar_t* name = path;
    for (const wchar_t* c = path; *c != L'\0'; ++c) {
        if (isSeparator(path, c)) {
            name = c + 1;
        }
    }
    return name;
}

// ".lyric2sysex." and 16 random hex digits beside the output: a name nobody can guess and plant
// ahead of the run, so that only chance, or a leftover of a killed run, can hold it.
bool makeTemporaryPath() {
    unsigned high = 0;
    unsigned low = 0;
    if (rand_s(&high) != 0 || rand_s(&low) != 0) {
        errno = EIO;
        return false;
    }
    const auto directory_length =
        static_cast<std::size_t>(fileNameOf(output.target_path) - output.target_path);
    std::wmemcpy(output.temporary_path, output.target_path, directory_length);
    if (std::swprintf(output.temporary_path + directory_length, kPathCapacity - directory_length,
                      L".lyric2sysex.%08x%08x", high, low) > 0) {
        return true;
    }
    errno = ENAMETOOLONG;
    return false;
}

// Marked for deletion from its creation on, the temporary file goes with the last handle to it
// whatever ends the process, TerminateProcess and a crash too. The mark is lifted just before
// the file is put in place; a file system that has no such mark leaves the removal to the
// failure paths and the console control handler.
bool markForDeletion(HANDLE handle, bool marked) {
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = marked ? TRUE : FALSE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

std::FILE* createTemporaryFile() {
    OutputLock lock;
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; handle == INVALID_HANDLE_VALUE; ++attempt) {
        if (attempt == 100) {
            errno = REASON_NO_FREE_HIDDEN_NAME;
            return nullptr;
        }
        if (!makeTemporaryPath()) {
            return nullptr;
        }
        handle = CreateFileW(output.temporary_path, GENERIC_WRITE | DELETE,
                             FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            keepLastError();
            return nullptr;
        }
    }
    output.temporary_exists = true;
    output.marked_for_deletion = markForDeletion(handle, true);
    output.handle = handle;
    output.stream = streamOf(handle);
    if (output.stream == nullptr) {
        removeTemporaryFile();
    }
    return output.stream;
}

// The finished file must not stay hidden; the attributes it took from its folder (not indexed,
// say) and the archive bit of a new file stay. Zero times leave the times as they are.
bool unhide(HANDLE handle) {
    FILE_BASIC_INFO basic;
    if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) == 0) {
        return false;
    }
    const DWORD attributes = basic.FileAttributes & ~DWORD{FILE_ATTRIBUTE_HIDDEN};
    basic = FILE_BASIC_INFO{};
    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) != 0;
}

// An existing output is replaced by ReplaceFileW, which gives the new file the old one's
// attributes, security descriptor and creation time; a new one is renamed into place.
bool placeTemporaryFile() {
    if (output.target_exists) {
        if (ReplaceFileW(output.target_path, output.temporary_path, nullptr,
                         REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr,
                         nullptr) != 0) {
            return true;
        }
        // Either the old file went away meanwhile, or ReplaceFileW removed it but could not
        // rename the new one: both leave the output path free for the rename.
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
            return false;
        }
    }
    return MoveFileExW(output.temporary_path, output.target_path,
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// Ctrl-C, Ctrl-Break, the console closed, logoff, shutdown: the temporary file goes, and the
// next handler, the default one, ends the process.
BOOL WINAPI onConsoleEvent(DWORD) {
    platformCloseOutput();
    return FALSE;
}

// The bytes of a UTF-8 sequence that one write to a console began and the next completes.
struct ConsoleCarry {
    char bytes[4];
    std::size_t size;
};
ConsoleCarry console_carries[2];  // standard output's and standard error's

bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0;
}

// A command prompt, a script's shell or a terminal shares its console with the program; a console
// made for this process alone, which its input and output are, is Explorer's doing.
bool startedFromExplorer() {
    DWORD processes[2];
    return GetConsoleProcessList(processes, 2) == 1 && isConsole(GetStdHandle(STD_INPUT_HANDLE)) &&
           isConsole(GetStdHandle(STD_OUTPUT_HANDLE));
}

// How many bytes at the end begin a UTF-8 sequence that is not complete yet.
std::size_t unfinishedSequence(const char* text, std::size_t size) {
    for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
        const auto byte = static_cast<unsigned char>(text[size - back]);
        if ((byte & 0xC0) != 0x80) {
            const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
            return length > back ? back : 0;
        }
    }
    return 0;
}

constexpr std::size_t kConsoleChunk = 4096;

// Bytes that are not UTF-8 become U+FFFD; the text shown here was made printable before.
bool writeWide(HANDLE console, const char* text, std::size_t size) {
    wchar_t wide[kConsoleChunk + sizeof ConsoleCarry::bytes];
    const int length = size == 0 ? 0
                                 : MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(size),
                                                       wide, static_cast<int>(std::size(wide)));
    if (length == 0 && size != 0) {
        return false;
    }
    for (DWORD done = 0; done < static_cast<DWORD>(length);) {
        DWORD written = 0;
        if (WriteConsoleW(console, wide + done, static_cast<DWORD>(length) - done, &written,
                          nullptr) == 0 ||
            written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

bool writeConsole(HANDLE console, ConsoleCarry& carry, const char* text, std::size_t size) {
    char bytes[kConsoleChunk + sizeof carry.bytes];
    bool written = true;
    while (written && size > 0) {
        const std::size_t taken = std::min(size, kConsoleChunk);
        std::memcpy(bytes, carry.bytes, carry.size);
        std::memcpy(bytes + carry.size, text, taken);
        const std::size_t total = carry.size + taken;
        text += taken;
        size -= taken;
        carry.size = unfinishedSequence(bytes, total);
        std::memcpy(carry.bytes, bytes + total - carry.size, carry.size);
        written = writeWide(console, bytes, total - carry.size);
    }
    return written;
}

// An argument as the C runtime splits the command line, and whether a part of it was quoted,
// which keeps a pattern from being expanded.
struct WideArgument {
    std::wstring text;
    bool quoted;
};

bool isBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// The program's name ends at the first blank outside quotes, and its backslashes are its own.
const wchar_t* splitProgramName(const wchar_t* line, std::vector<WideArgument>& arguments) {
    WideArgument& name = arguments.emplace_back();
    bool in_quotes = false;
    for (; *line != L'\0' && (in_quotes || !isBlank(*line)); ++line) {
        if (*line == L'"') {
            in_quotes = !in_quotes;
        } else {
            name.text.push_back(*line);
        }
    }
    return line;
}

// 2n backslashes and a quote are n backslashes, and the quote opens or closes a quoted part; in
// one, two quotes are one. 2n+1 backslashes and a quote are n backslashes and the quote itself.
// Any other backslash is itself.
const wchar_t* splitArgument(const wchar_t* line, WideArgument& argument) {
    bool in_quotes = false;
    for (;;) {
        std::size_t backslashes = 0;
        for (; *line == L'\\'; ++line) {
            ++backslashes;
        }
        bool literal = true;
        if (*line == L'"') {
            const bool escaped = backslashes % 2 == 1;
            backslashes /= 2;
            if (!escaped && in_quotes && line[1] == L'"') {
                ++line;
            } else if (!escaped) {
                literal = false;
                in_quotes = !in_quotes;
                argument.quoted = true;
            }
        }
        argument.text.append(backslashes, L'\\');
        if (*line == L'\0' || (!in_quotes && isBlank(*line))) {
            return line;
        }
        if (literal) {
            argument.text.push_back(*line);
        }
        ++line;
    }
}

std::vector<WideArgument> splitCommandLine(const wchar_t* line) {
    std::vector<WideArgument> arguments;
    line = splitProgramName(line, arguments);
    for (;;) {
        for (; isBlank(*line); ++line) {
        }
        if (*line == L'\0') {
            return arguments;
        }
        line = splitArgument(line, arguments.emplace_back());
    }
}

// The arguments as UTF-8, each pattern's matches in its place: kept to the end of the process.
std::vector<std::string> utf8_arguments;
std::vector<char*> argument_pointers;

bool appendUtf8(const std::wstring& wide) {
    std::string& text = utf8_arguments.emplace_back();
    if (wide.empty()) {
        return true;
    }
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return false;
    }
    text.resize(static_cast<std::size_t>(length));
    return WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), length, nullptr,
                               nullptr) == length;
}

bool isPattern(const WideArgument& argument) {
    return !argument.quoted && argument.text.find_first_of(L"*?") != std::wstring::npos;
}

// Each name found, "." and ".." aside, after the pattern's folder, in the order found; false when
// a name does not convert. No match leaves the arguments as they were.
bool appendMatches(const std::wstring& pattern) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return true;
    }
    const std::wstring folder = pattern.substr(0, pattern.find_last_of(L"\\/:") + 1);
    bool converted = true;
    do {
        if (std::wcscmp(found.cFileName, L".") != 0 && std::wcscmp(found.cFileName, L"..") != 0) {
            converted = appendUtf8(folder + found.cFileName) && converted;
        }
    } while (FindNextFileW(search, &found) != 0);
    FindClose(search);
    return converted;
}

// The C runtime reads the arguments in the ANSI code page, which cannot spell every file name,
// and CommandLineToArgvW forgets which were quoted: the wide command line is split here. Should a
// conversion fail, the runtime's arguments stay. Returns the first pattern without a match.
const char* takeWideArguments(int* argc, char*** argv) {
    const std::vector<WideArgument> arguments = splitCommandLine(GetCommandLineW());
    bool converted = appendUtf8(arguments.front().text);
    std::size_t unmatched = 0;  // the program's name is no pattern
    for (auto argument = arguments.begin() + 1; argument != arguments.end(); ++argument) {
        const std::size_t count = utf8_arguments.size();
        if (isPattern(*argument)) {
            converted = appendMatches(argument->text) && converted;
            if (utf8_arguments.size() == count && unmatched == 0) {
                unmatched = count;
            }
        }
        if (utf8_arguments.size() == count) {
            converted = appendUtf8(argument->text) && converted;
        }
    }
    if (!converted) {
        return nullptr;
    }
    for (std::string& argument : utf8_arguments) {
        argument_pointers.push_back(argument.data());
    }
    argument_pointers.push_back(nullptr);
    *argc = static_cast<int>(utf8_arguments.size());
    *argv = argument_pointers.data();
    return unmatched != 0 ? utf8_arguments[unmatched].c_str() : nullptr;
}

}  // namespace

PlatformStart platformStart(int* argc, char*** argv) {
    // A drive without a medium must fail the run with its message, not open a dialog box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // The trace ends its lines with LF alone, as everywhere.
    if (_fileno(stdout) >= 0) {
        _setmode(_fileno(stdout), _O_BINARY);
    }
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    const char* unmatched_pattern = takeWideArguments(argc, argv);
    return PlatformStart{unmatched_pattern, startedFromExplorer()};
}

// A key pressed: not one let go (the Enter that started a program, say), nor the mouse.
void platformWaitForKey() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    INPUT_RECORD record{};
    DWORD read = 0;
    while (ReadConsoleInputW(input, &record, 1, &read) != 0 && read == 1) {
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) {
            return;
        }
    }
}

// A console shows characters, whatever its code page: UTF-16 through WriteConsoleW. A file or a
// pipe, or a console that refuses them, gets the bytes, whose failure the stream then records.
bool platformWriteText(std::FILE* stream, const char* text, std::size_t size) {
    const HANDLE handle = handleOf(stream);
    return (isConsole(handle) &&
            writeConsole(handle, console_carries[stream == stderr ? 1 : 0], text, size)) ||
           std::fwrite(text, 1, size, stream) == size;
}

// Binary, so that neither a 0x1A byte nor CR LF is taken for a text file's end or line end;
// shared as fopen shares, so that another program may still read and write the file.
std::FILE* platformOpenInput(const char* path, FileIdentity* identity) {
    if (!widen(path, scratch_path)) {
        return nullptr;
    }
    std::FILE* stream = _wfsopen(scratch_path, L"rb", _SH_DENYNO);
    if (stream == nullptr) {
        return nullptr;
    }
    const HANDLE handle = handleOf(stream);
    if (GetFileType(handle) != FILE_TYPE_DISK || isDirectory(handle) ||
        !identify(handle, identity)) {
        std::fclose(stream);
        errno = REASON_NOT_A_REGULAR_FILE;
        return nullptr;
    }
    return stream;
}

void platformIdentify(std::FILE* file, FileIdentity* identity) {
    identify(handleOf(file), identity);
}

bool platformIdentifyPath(const char* path, FileIdentity* identity) {
    const HANDLE handle = openForAttributes(path);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool identified = identify(handle, identity);
    CloseHandle(handle);
    return identified;
}

// Only a file on a disk has an identity that a path can name too.
bool platformIsStandardOutput(const char* path) {
    const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    FileIdentity output_identity;
    FileIdentity path_identity;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) == FILE_TYPE_DISK && identify(handle, &output_identity) &&
           platformIdentifyPath(path, &path_identity) &&
           output_identity.device == path_identity.device &&
           output_identity.file == path_identity.file;
}

PathKind platformPathKind(const char* path) {
    const HANDLE handle = openForAttributes(path);
    if (handle == INVALID_HANDLE_VALUE) {
        return PATH_MISSING;
    }
    const bool directory = isDirectory(handle);
    CloseHandle(handle);
    return directory ? PATH_DIRECTORY : PATH_OTHER;
}

// Windows has no shared folders in the sense of POSIX's sticky ones: who may replace a file is
// its access control list's to say, which the replacement itself asks.
bool platformMayWrite(const char*) {
    return true;
}

// An existing output is opened for writing first: what a plain write would be refused (a
// read-only file, a directory, a file locked by another program) is refused here too.
std::FILE* platformCreateOutput(const char* path) {
    output.writer_thread = GetCurrentThreadId();
    if (!widen(path, output.target_path)) {
        return nullptr;
    }
    const HANDLE existing = CreateFileW(output.target_path, GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND) {
            // A directory opened for writing is only "access denied".
            keepLastError();
            const int reason = errno;
            errno = platformPathKind(path) == PATH_DIRECTORY ? EISDIR : reason;
            return nullptr;
        }
        output.target_exists = false;
    } else if (GetFileType(existing) != FILE_TYPE_DISK) {
        output.mode = OUTPUT_DIRECT;
        output.stream = streamOf(existing);
        return output.stream;
    } else {
        // Through a symbolic link, the file it leads to is replaced, not the link.
        WidePath& final_path = scratch_path;
        const DWORD length = GetFinalPathNameByHandleW(existing, final_path, kPathCapacity,
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length != 0 && length < kPathCapacity) {
            std::wmemcpy(output.target_path, final_path, length + 1);
        }
        CloseHandle(existing);
        output.target_exists = true;
    }
    output.mode = OUTPUT_TEMPORARY;
    return createTemporaryFile();
}

bool platformCommitOutput() {
    if (output.mode == OUTPUT_DIRECT) {
        return closeStream();
    }
    // From here on the run either completes or fails; an interrupt must not split the two.
    OutputLock lock;
    if (!output.temporary_exists) {
        return false;
    }
    const bool written = FlushFileBuffers(output.handle) != 0 && unhide(output.handle) &&
                         (!output.marked_for_deletion || markForDeletion(output.handle, false));
    if (!written) {
        keepLastError();
    }
    // The C runtime's close leaves its own reason.
    const bool closed = closeStream();
    if (written && closed) {
        if (placeTemporaryFile()) {
            output.temporary_exists = false;
            return true;
        }
        keepLastError();
    }
    removeTemporaryFile();
    return false;
}

void platformCloseOutput() {
    OutputLock lock;
    removeTemporaryFile();
    if (output.stream != nullptr && GetCurrentThreadId() == output.writer_thread) {
        closeStream();
    }
}
