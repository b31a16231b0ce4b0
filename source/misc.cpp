#include "misc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "midi_struct.h"

std::FILE* f_input = nullptr;
std::FILE* f_output = nullptr;
TraceBuffer trace;
StreamOffsets stream_offsets;

namespace {

constexpr std::size_t kStreamBufferSize = 128 * 1024;
// Forward seeks up to this distance read over the bytes instead: a real seek costs a system
// call and throws the stream's buffer away.
constexpr std::uint64_t kReadOverLimit = 64 * 1024;

char input_buffer[kStreamBufferSize];

// The copy moves many short ranges, one per command: through stdio each would cost a read and
// a write call, so the copy keeps a block of the input and the output a block of its own, and
// both streams are used unbuffered, a block at a time.
struct CopyBlock {
    std::uint8_t bytes[kStreamBufferSize];
    std::uint64_t offset;  // the input offset of bytes[0]
    std::size_t filled;
} copy_block;
struct OutputBlock {
    std::uint8_t bytes[kStreamBufferSize];
    std::size_t used;
} output_block;

// The copy behind the scan reads through its own stream, so that it never moves the scan's.
std::FILE* f_copy = nullptr;
struct stat input_status;

// Where the output goes: written directly (a device, a pipe), into an unnamed temporary file
// that is linked into place at the end, or into a hidden named one where the file system
// refuses unnamed files.
enum OutputMode { OUTPUT_DIRECT, OUTPUT_UNNAMED, OUTPUT_NAMED };
OutputMode output_mode = OUTPUT_DIRECT;
char target_path[PATH_MAX];  // the output path with symbolic links followed
bool target_exists = false;
char temp_path[PATH_MAX];
volatile std::sig_atomic_t temp_path_in_use = 0;
constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

bool copyString(char* destination, const char* source) {
    const std::size_t length = std::strlen(source);
    if (length >= PATH_MAX) {
        return false;
    }
    std::memcpy(destination, source, length + 1);
    return true;
}

// The length of the directory part of a path, its last slash included.
std::size_t directoryLength(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
}

// Follows symbolic links in the last component of the output path, so that the file a plain
// write would reach is the one replaced, even when the link dangles.
bool resolveOutputPath(const char* path) {
    if (!copyString(target_path, path)) {
        return false;
    }
    for (int hops = 0; hops < 40; ++hops) {
        struct stat status;
        if (lstat(target_path, &status) != 0) {
            return errno == ENOENT;
        }
        if (!S_ISLNK(status.st_mode)) {
            return true;
        }
        char link[PATH_MAX];
        const ssize_t length = readlink(target_path, link, sizeof link);
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof link) {
            return false;
        }
        link[length] = '\0';
        const std::size_t keep = link[0] == '/' ? 0 : directoryLength(target_path);
        if (keep + static_cast<std::size_t>(length) >= PATH_MAX) {
            return false;
        }
        std::memcpy(target_path + keep, link, static_cast<std::size_t>(length) + 1);
    }
    return false;
}

void directoryOf(const char* path, char* directory) {
    const std::size_t length = directoryLength(path);
    if (length == 0) {
        std::strcpy(directory, ".");
        return;
    }
    std::memcpy(directory, path, length);
    directory[length] = '\0';
}

// "dir/.name.<suffix>": hidden beside the output, so that the final rename stays on one file
// system.
bool makeTempPath(const char* suffix) {
    const std::size_t keep = directoryLength(target_path);
    const int length =
        std::snprintf(temp_path, sizeof temp_path, "%.*s.%s.%s", static_cast<int>(keep),
                      target_path, target_path + keep, suffix);
    return length > 0 && static_cast<std::size_t>(length) < sizeof temp_path;
}

void removeTempOnInterrupt(int signal_number) {
    if (temp_path_in_use != 0) {
        unlink(temp_path);
    }
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void setInterruptsBlocked(bool blocked) {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal_number : kInterrupts) {
        sigaddset(&set, signal_number);
    }
    sigprocmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

int createNamedTemp() {
    struct sigaction action {};
    action.sa_handler = removeTempOnInterrupt;
    for (const int signal_number : kInterrupts) {
        sigaction(signal_number, &action, nullptr);
    }
    if (!makeTempPath("XXXXXX")) {
        return -1;
    }
    setInterruptsBlocked(true);
    const int fd = mkstemp(temp_path);
    temp_path_in_use = fd >= 0 ? 1 : 0;
    setInterruptsBlocked(false);
    return fd;
}

int createTemporary(mode_t mode) {
    char directory[PATH_MAX];
    directoryOf(target_path, directory);
    int fd = open(directory, O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    output_mode = OUTPUT_UNNAMED;
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        fd = createNamedTemp();
        output_mode = OUTPUT_NAMED;
    }
    // The mode given to open() passes through the umask; a replaced file keeps its own bits.
    if (fd >= 0 && fchmod(fd, mode) != 0) {
        close(fd);
        discardOutputFile();
        return -1;
    }
    return fd;
}

mode_t newFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Gives the unnamed output file a name: the output path itself when it is new, else a hidden
// name beside it that the caller renames onto the output path.
bool linkUnnamedOutput() {
    char proc_path[64];
    std::snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", fileno(f_output));
    if (!target_exists) {
        if (linkat(AT_FDCWD, proc_path, AT_FDCWD, target_path, AT_SYMLINK_FOLLOW) == 0) {
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "%ld.%u", static_cast<long>(getpid()), attempt);
        if (!makeTempPath(suffix)) {
            return false;
        }
        if (linkat(AT_FDCWD, proc_path, AT_FDCWD, temp_path, AT_SYMLINK_FOLLOW) == 0) {
            temp_path_in_use = 1;
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

// Opens a regular file for reading; without O_NONBLOCK a FIFO would wait here for a writer.
std::FILE* openRegularFile(const char* path, struct stat& status) {
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        close(fd);
        return nullptr;
    }
    return fdopen(fd, "rb");
}

// Reads the block of the input that starts at the copy cursor.
bool refillCopyBlock() {
    if (fseeko(f_copy, static_cast<off_t>(stream_offsets.copy), SEEK_SET) != 0) {
        return false;
    }
    copy_block.offset = stream_offsets.copy;
    copy_block.filled = std::fread(copy_block.bytes, 1, sizeof copy_block.bytes, f_copy);
    return copy_block.filled != 0;
}

void flushOutputBlock() {
    if (output_block.used != 0 &&
        std::fwrite(output_block.bytes, 1, output_block.used, f_output) != output_block.used) {
        errexit("file can't write");
    }
    output_block.used = 0;
}

}  // namespace

std::uint32_t convEndianU32(std::uint32_t src) {
    std::uint32_t result = 0;
    for (int i = 0; i < 4; ++i) {
        result = (result << 8) | (src & 0xFF);
        src >>= 8;
    }
    return result;
}

void setUpTrace() {
    trace.flush_each_line = isatty(STDOUT_FILENO) != 0;
    // The trace buffer gathers the lines already; a second buffer would only copy them again.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}

void flushTrace() {
    if (trace.used != 0 && std::fwrite(trace.text, 1, trace.used, stdout) != trace.used) {
        trace.failed = true;
    }
    trace.used = 0;
}

bool traceFlushed() {
    flushTrace();
    return !trace.failed && std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
}

void openInputFile(const char* path) {
    stream_offsets = StreamOffsets{};
    copy_block.filled = 0;
    f_input = openRegularFile(path, input_status);
    if (f_input == nullptr) {
        errexit("file can't read");
    }
    // The copy stream must read the very file the scan reads, even if the path changed since.
    struct stat copy_status;
    f_copy = openRegularFile(path, copy_status);
    if (f_copy == nullptr || copy_status.st_dev != input_status.st_dev ||
        copy_status.st_ino != input_status.st_ino) {
        errexit("file can't read");
    }
    std::setvbuf(f_input, input_buffer, _IOFBF, sizeof input_buffer);
    std::setvbuf(f_copy, nullptr, _IONBF, 0);
}

void refuseSameFile(const char* output_path) {
    struct stat output_status;
    if (stat(output_path, &output_status) == 0 && output_status.st_dev == input_status.st_dev &&
        output_status.st_ino == input_status.st_ino) {
        errexit("input and output are the same file");
    }
}

void openOutputFile(const char* path) {
    if (!resolveOutputPath(path)) {
        errexit("file can't write");
    }
    struct stat status;
    target_exists = stat(target_path, &status) == 0;
    if (target_exists && S_ISDIR(status.st_mode)) {
        errexit("file can't write");
    }
    if (target_exists && !S_ISREG(status.st_mode)) {
        output_mode = OUTPUT_DIRECT;
        f_output = std::fopen(target_path, "wb");
    } else {
        const int fd = createTemporary(target_exists ? status.st_mode & 07777 : newFileMode());
        f_output = fd < 0 ? nullptr : fdopen(fd, "wb");
    }
    if (f_output == nullptr) {
        errexit("file can't write");
    }
    std::setvbuf(f_output, nullptr, _IONBF, 0);
}

void refuseLargeInput() {
    if (static_cast<std::uint64_t>(input_status.st_size) > UINT32_MAX) {
        errexit("file too large");
    }
}

void commitOutputFile() {
    flushOutputBlock();
    if (std::fflush(f_output) != 0) {
        errexit("file can't write");
    }
    // From here on the run either completes or fails; an interrupt must not split the two.
    setInterruptsBlocked(true);
    if (output_mode == OUTPUT_UNNAMED && !linkUnnamedOutput()) {
        errexit("file can't write");
    }
    const bool closed = std::fclose(f_output) == 0;
    f_output = nullptr;
    const bool placed_at_target =
        output_mode == OUTPUT_DIRECT || (output_mode == OUTPUT_UNNAMED && temp_path_in_use == 0);
    if (!closed) {
        if (placed_at_target && output_mode == OUTPUT_UNNAMED) {
            unlink(target_path);
        }
        errexit("file can't write");
    }
    if (!placed_at_target && std::rename(temp_path, target_path) != 0) {
        errexit("file can't write");
    }
    temp_path_in_use = 0;
}

void discardOutputFile() {
    if (temp_path_in_use != 0) {
        unlink(temp_path);
        temp_path_in_use = 0;
    }
}

bool catchUpInput() {
    std::uint64_t& actual = stream_offsets.input_stream;
    const std::uint64_t wanted = stream_offsets.input;
    if (wanted > actual && wanted - actual <= kReadOverLimit) {
        for (; actual < wanted; ++actual) {
            if (getc_unlocked(f_input) == EOF) {
                return false;
            }
        }
    } else if (wanted != actual) {
        if (fseeko(f_input, static_cast<off_t>(wanted), SEEK_SET) != 0) {
            return false;
        }
        actual = wanted;
    }
    stream_offsets.input_moved = false;
    return true;
}

bool readInputBytes(std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const int byte = readInputByte();
        if (byte < 0) {
            return false;
        }
        bytes[i] = static_cast<std::uint8_t>(byte);
    }
    return true;
}

bool copyInputTo(std::uint64_t end) {
    while (stream_offsets.copy < end) {
        const std::uint64_t in_block = stream_offsets.copy - copy_block.offset;
        if (stream_offsets.copy < copy_block.offset || in_block >= copy_block.filled) {
            if (!refillCopyBlock()) {
                return false;
            }
            continue;
        }
        const std::uint64_t available = copy_block.filled - in_block;
        const std::uint64_t wanted = end - stream_offsets.copy;
        const auto count = static_cast<std::size_t>(wanted < available ? wanted : available);
        writeOutputBytes(copy_block.bytes + in_block, count);
        stream_offsets.copy += count;
    }
    return true;
}

void seekCopy(std::uint64_t offset) {
    stream_offsets.copy = offset;
}

void writeOutputByte(std::uint8_t byte) {
    if (output_block.used == sizeof output_block.bytes) {
        flushOutputBlock();
    }
    output_block.bytes[output_block.used++] = byte;
    ++stream_offsets.output;
}

void writeOutputBytes(const std::uint8_t* bytes, std::size_t count) {
    if (count > sizeof output_block.bytes - output_block.used) {
        flushOutputBlock();
    }
    if (count >= sizeof output_block.bytes) {
        if (std::fwrite(bytes, 1, count, f_output) != count) {
            errexit("file can't write");
        }
    } else {
        std::memcpy(output_block.bytes + output_block.used, bytes, count);
        output_block.used += count;
    }
    stream_offsets.output += count;
}

void seekOutput(std::uint64_t offset) {
    flushOutputBlock();
    if (fseeko(f_output, static_cast<off_t>(offset), SEEK_SET) != 0) {
        errexit("file can't write");
    }
    stream_offsets.output = offset;
}

std::uint64_t outputOffset() {
    return stream_offsets.output;
}
