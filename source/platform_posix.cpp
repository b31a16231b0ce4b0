// The platform layer of Linux, macOS and the other POSIX systems, WebAssembly's among them.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ratio>
#include <utility>

#include "platform.h"
#ifdef __APPLE__
#include <sys/random.h>
#endif
#ifdef __linux__
#include <linux/limits.h>
#include <sys/xattr.h>
#endif

#ifdef __APPLE__
#define MODIFIED_TIME st_mtimespec
#define CHANGED_TIME st_ctimespec
#else
#define MODIFIED_TIME st_mtim
#define CHANGED_TIME st_ctim
#endif

// Unnamed temporary files need O_TMPFILE (Linux) and /proc to link them; elsewhere, and in the
// build that proves the other path, the output is first a hidden named file.
#if defined(O_TMPFILE) && !defined(LYRIC2SYSEX_NO_TMPFILE)
#define UNNAMED_OUTPUT_FILES 1
#endif

namespace {

// Where the output goes: written directly (a device, a pipe, a descriptor named under /proc),
// into an unnamed file that is linked into place at the end, or into a hidden named one.
enum OutputMode { OUTPUT_DIRECT, OUTPUT_UNNAMED, OUTPUT_NAMED };

// Signals that end a run by default and may come from outside: each removes the hidden file.
constexpr int kEndingSignals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGTERM, SIGUSR1,
                                  SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU};

enum Resolution { RESOLVED, RESOLVE_DIRECT, RESOLVE_FAILED };

struct OutputState {
    OutputMode mode;  // direct until a temporary file is made
    Resolution resolution;
    std::FILE* stream;
    char target_path[PATH_MAX];  // the output path with symbolic links followed
    const char* target_name;     // its last component
    int directory_fd;            // the directory that holds it, for every *at() call
    bool target_exists;
    struct stat target_status;
    char temp_name[sizeof dirent::d_name];
} output = {OUTPUT_DIRECT, RESOLVED, nullptr, {}, nullptr, -1, false, {}, {}};

volatile std::sig_atomic_t temp_name_in_use = 0;

void removeTempOnSignal(int signal_number) {
    if (temp_name_in_use != 0) {
        unlinkat(output.directory_fd, output.temp_name, 0);
    }
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

std::int64_t nanoseconds(const struct timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * std::nano::den + time.tv_nsec;
}

void fillIdentity(const struct stat& status, FileIdentity* identity) {
    *identity = FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                             static_cast<std::uint64_t>(status.st_ino),
                             static_cast<std::uint64_t>(status.st_size),
                             nanoseconds(status.MODIFIED_TIME), nanoseconds(status.CHANGED_TIME)};
}

bool startsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Links under /proc and /dev/fd name open descriptors, not paths: following one by hand would
// find a pipe or a deleted file's old name.
bool isDescriptorPath(const char* path) {
    return startsWith(path, "/proc/") || startsWith(path, "/dev/fd/");
}

// The length of the directory part of a path, its last slash included.
std::size_t directoryLength(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
}

// The directory part of a path, "." when it has none. The zeros after what is copied end it.
void directoryOf(const char* path, char (&directory)[PATH_MAX]) {
    std::memset(directory, 0, sizeof directory);
    directory[0] = '.';
    std::memcpy(directory, path, directoryLength(path));
}

// Everybody may add entries to such a folder, /tmp and its like, and only an entry's owner may
// remove it: what stands there may have been planted by anybody.
bool isSharedFolder(const struct stat& folder) {
    return (folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
}

// The kernel's rule for shared folders, applied whatever the system's setting: there, a link is
// followed and a file replaced only when it belongs to this user or to the folder's owner.
bool isOthersInSharedFolder(const char* path, const struct stat& entry) {
    char directory[PATH_MAX];
    directoryOf(path, directory);
    struct stat folder;
    return stat(directory, &folder) == 0 && isSharedFolder(folder) && entry.st_uid != geteuid() &&
           entry.st_uid != folder.st_uid;
}

Resolution refuseResolution(int reason) {
    errno = reason;
    return RESOLVE_FAILED;
}

// Follows symbolic links in the last component of the output path, so that the file a plain
// write would reach is the one replaced, even when the link dangles.
Resolution resolveOutputPath(const char* path) {
    // A path whose end the buffer cannot hold is one that no system call would take either.
    if (std::memchr(path, '\0', sizeof output.target_path) == nullptr) {
        return refuseResolution(ENAMETOOLONG);
    }
    std::strcpy(output.target_path, path);
    // As many links as Linux follows in a path, and a look at what the last one names.
    for (int links = 0; links <= 40; ++links) {
        if (isDescriptorPath(output.target_path)) {
            return RESOLVE_DIRECT;
        }
        struct stat status;
        if (lstat(output.target_path, &status) != 0) {
            return errno == ENOENT ? RESOLVED : RESOLVE_FAILED;
        }
        if (!S_ISLNK(status.st_mode)) {
            return RESOLVED;
        }
        if (isOthersInSharedFolder(output.target_path, status)) {
            return refuseResolution(REASON_LINK_OF_ANOTHER_USER);
        }
        char link[PATH_MAX] = {};
        const ssize_t length = readlink(output.target_path, link, sizeof link);
        if (length < 0) {
            return RESOLVE_FAILED;
        }
        // A relative link goes on from its own folder. A path the buffer cannot hold, cut short,
        // would name another file: it is refused whole.
        const int keep = link[0] == '/' ? 0 : static_cast<int>(directoryLength(output.target_path));
        char next[sizeof output.target_path];
        const int written = std::snprintf(next, sizeof next, "%.*s%.*s", keep, output.target_path,
                                          static_cast<int>(length), link);
        if (static_cast<std::size_t>(written) >= sizeof next) {
            return refuseResolution(ENAMETOOLONG);
        }
        std::memcpy(output.target_path, next, sizeof next);
    }
    return refuseResolution(ELOOP);
}

// Resolves the output path and examines what it names: false, with the reason in errno, where
// no file may be written there. A directory is refused by the creation, not here: it may be the
// folder of a folder conversion.
bool examineOutputPath(const char* path) {
    output.resolution = resolveOutputPath(path);
    if (output.resolution == RESOLVE_FAILED) {
        return false;
    }
    struct stat& status = output.target_status;
    output.target_exists = output.resolution == RESOLVED && stat(output.target_path, &status) == 0;
    if (!output.target_exists || S_ISDIR(status.st_mode)) {
        return true;
    }
    if (isOthersInSharedFolder(output.target_path, status)) {
        errno = REASON_FILE_OF_ANOTHER_USER;
        return false;
    }
    // A plain write would be refused; so is a replacement.
    return access(output.target_path, W_OK) == 0;
}

bool openTargetDirectory() {
    output.target_name = output.target_path + directoryLength(output.target_path);
    char directory[PATH_MAX];
    directoryOf(output.target_path, directory);
    output.directory_fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return output.directory_fd != -1;
}

// ".lyric2sysex." and 16 random hex digits beside the output: a name nobody can guess and plant
// ahead of the run, so that only chance, or a leftover of a killed run, can hold it.
bool makeTempName() {
    std::uint64_t random;
    return getentropy(&random, sizeof random) == 0 &&
           std::snprintf(output.temp_name, sizeof output.temp_name, ".lyric2sysex.%016llx",
                         static_cast<unsigned long long>(random)) > 0;
}

// Runs create(temp_name) under fresh names until one is free; the name is marked in use, with
// the signals held off, before a handler could miss it.
template <typename Create>
bool createUnderTempName(Create create) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        if (!makeTempName()) {
            return false;
        }
        sigset_t all;
        sigset_t previous;
        sigfillset(&all);
        sigprocmask(SIG_BLOCK, &all, &previous);
        const bool created = create(output.temp_name);
        temp_name_in_use = created;
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        if (created) {
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    errno = REASON_NO_FREE_HIDDEN_NAME;
    return false;
}

// A new file takes 0666 less the umask from the kernel, so that a default ACL of the directory
// applies as it would to a shell's redirection; a file that replaces another starts private and
// takes the other's attributes before it is put in place.
mode_t creationMode() {
    return output.target_exists ? S_IRUSR | S_IWUSR : 0666;
}

int createNamedFile() {
    int fd;  // every attempt sets it
    createUnderTempName([&fd](const char* name) {
        fd = openat(output.directory_fd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    creationMode());
        return fd != -1;
    });
    output.mode = OUTPUT_NAMED;
    return fd;
}

#ifdef UNNAMED_OUTPUT_FILES
void procPath(int fd, char (&path)[32]) {
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
}

// Gives the unnamed file a name: the output path itself when it is new, else a hidden name that
// is then renamed onto the output path.
bool linkUnnamedFile(int fd) {
    char path[32];
    procPath(fd, path);
    if (!output.target_exists) {
        if (linkat(AT_FDCWD, path, output.directory_fd, output.target_name, AT_SYMLINK_FOLLOW) ==
            0) {
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return createUnderTempName([&path](const char* name) {
        return linkat(AT_FDCWD, path, output.directory_fd, name, AT_SYMLINK_FOLLOW) == 0;
    });
}
#endif

// Where the file system refuses unnamed files, or /proc is missing so that one could never be
// linked, the output is a named file instead.
int createTemporaryFile() {
#ifdef UNNAMED_OUTPUT_FILES
    if (access("/proc/self/fd", F_OK) == 0) {
        const int fd =
            openat(output.directory_fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, creationMode());
        if (fd != -1) {
            output.mode = OUTPUT_UNNAMED;
            return fd;
        }
    }
#endif
    return createNamedFile();
}

// Extended attributes, POSIX ACLs among them, where the system has them. One that the file system
// or the process may not set (a privileged namespace, file capabilities) is left behind, as
// cp -p leaves it, and so are owner and group.
void copyExtendedAttributes([[maybe_unused]] const char* from, [[maybe_unused]] int to) {
#ifdef __linux__
    static char names[XATTR_LIST_MAX];
    static char value[XATTR_SIZE_MAX];
    // The kernel hands over whole names, each ended by a null (it checks a FUSE file system's
    // list for that), so the walk lands on the list's end; a failure lists none.
    const char* const end = names + std::max(listxattr(from, names, sizeof names), ssize_t{});
    for (const char* name = names; name != end; name += std::strlen(name) + 1) {
        const ssize_t size = getxattr(from, name, value, sizeof value);
        if (size >= 0) {
            fsetxattr(to, name, value, static_cast<std::size_t>(size), 0);
        }
    }
#endif
}

// Owner and group where the process may set them; set-user-ID and set-group-ID only when both
// were kept, as cp -p and install do; then the permission bits and the extended attributes.
bool takeTargetAttributes(int fd) {
    const struct stat& old = output.target_status;
    const bool owner_kept = fchown(fd, old.st_uid, old.st_gid) == 0;
    if (fchmod(fd, old.st_mode & (owner_kept ? 07777 : 01777)) != 0) {
        return false;
    }
    copyExtendedAttributes(output.target_path, fd);
    return true;
}

bool closeOutputStream() {
    const bool closed = std::fclose(output.stream) == 0;
    output.stream = nullptr;
    return closed;
}

// The folder is held open from the creation to the end of the conversion, as the *at() calls'
// anchor. Closing -1 is harmless.
void closeTargetDirectory() {
    close(std::exchange(output.directory_fd, -1));
}

bool isRegularFile(int fd) {
    struct stat status;
    return fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

// Puts a finished temporary file in place of the output path and makes that durable.
bool placeOutput(int fd) {
    if (output.target_exists && !takeTargetAttributes(fd)) {
        return false;
    }
    if (fsync(fd) != 0) {
        return false;
    }
#ifdef UNNAMED_OUTPUT_FILES
    if (output.mode == OUTPUT_UNNAMED && !linkUnnamedFile(fd)) {
        return false;
    }
#endif
    const bool linked_as_target = output.mode == OUTPUT_UNNAMED && temp_name_in_use == 0;
    if (!closeOutputStream()) {
        if (linked_as_target) {
            unlinkat(output.directory_fd, output.target_name, 0);
        }
        return false;
    }
    if (!linked_as_target) {
        // Once renamed, the hidden name is no longer the run's to remove.
        temp_name_in_use = renameat(output.directory_fd, output.temp_name, output.directory_fd,
                                    output.target_name) != 0;
        if (temp_name_in_use != 0) {
            return false;
        }
    }
    return fsync(output.directory_fd) == 0;
}

}  // namespace

PlatformStart platformStart(int*, char***) {
    // A closed pipe or a file size limit must fail the run through its ordinary path, with its
    // message, rather than end it silently.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    for (const int signal_number : kEndingSignals) {
        struct sigaction inherited;
        // A signal ignored by the caller, as under nohup, stays ignored.
        if (sigaction(signal_number, nullptr, &inherited) == 0 && inherited.sa_handler != SIG_IGN) {
            struct sigaction action {};
            action.sa_handler = removeTempOnSignal;
            sigaction(signal_number, &action, nullptr);
        }
    }
    // The shell has expanded the patterns already; no program here starts in a window of its own.
    return PlatformStart{nullptr, false};
}

void platformWaitForKey() {}

bool platformWriteText(std::FILE* stream, const char* text, std::size_t size) {
    return std::fwrite(text, 1, size, stream) == size;
}

// Closes a descriptor that will not be read, keeping the reason.
std::FILE* refuseInput(int fd, int reason) {
    close(fd);
    errno = reason;
    return nullptr;
}

// Without O_NONBLOCK, opening a FIFO would wait here for a writer.
std::FILE* platformOpenInput(const char* path, FileIdentity* identity) {
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd == -1) {
        return nullptr;
    }
    struct stat status;
    if (fstat(fd, &status) != 0 || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        return refuseInput(fd, errno);
    }
    if (!S_ISREG(status.st_mode)) {
        return refuseInput(fd, REASON_NOT_A_REGULAR_FILE);
    }
    std::FILE* stream = fdopen(fd, "rb");
    if (stream == nullptr) {
        return refuseInput(fd, errno);
    }
    fillIdentity(status, identity);
    return stream;
}

void platformIdentify(std::FILE* file, FileIdentity* identity) {
    struct stat status;
    if (fstat(fileno(file), &status) == 0) {
        fillIdentity(status, identity);
    }
}

bool platformIdentifyPath(const char* path, FileIdentity* identity) {
    struct stat status;
    if (stat(path, &status) != 0) {
        return false;
    }
    fillIdentity(status, identity);
    return true;
}

bool platformIsStandardOutput(const char* path) {
    struct stat output_status;
    struct stat path_status;
    return fstat(STDOUT_FILENO, &output_status) == 0 && stat(path, &path_status) == 0 &&
           output_status.st_dev == path_status.st_dev && output_status.st_ino == path_status.st_ino;
}

PathKind platformPathKind(const char* path) {
    struct stat status;
    if (stat(path, &status) != 0) {
        return PATH_MISSING;
    }
    return S_ISDIR(status.st_mode) ? PATH_DIRECTORY : PATH_OTHER;
}

bool platformMayWrite(const char* path) {
    return examineOutputPath(path);
}

std::FILE* platformCreateOutput(const char* path) {
    output.mode = OUTPUT_DIRECT;
    if (!examineOutputPath(path)) {
        return nullptr;
    }
    const struct stat& status = output.target_status;
    if (output.target_exists && S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        return nullptr;
    }
    if (output.resolution == RESOLVE_DIRECT || (output.target_exists && !S_ISREG(status.st_mode))) {
        output.stream = std::fopen(path, "wb");
        return output.stream;
    }
    if (!openTargetDirectory()) {
        return nullptr;
    }
    // Not every C library's fdopen refuses a failed creation's -1.
    const int fd = createTemporaryFile();
    if (fd < 0) {
        return nullptr;
    }
    output.stream = fdopen(fd, "wb");
    return output.stream;
}

bool platformCommitOutput() {
    const int fd = fileno(output.stream);
    if (output.mode == OUTPUT_DIRECT) {
        // A device or a pipe has nothing to sync; a file reached through /proc has.
        const bool synced = !isRegularFile(fd) || fsync(fd) == 0;
        return closeOutputStream() && synced;
    }
    // A signal on the way removes the temporary name, whether it was still to be renamed (the
    // old output stays) or renamed already (nothing to remove).
    return placeOutput(fd);
}

void platformCloseOutput() {
    if (temp_name_in_use != 0) {
        unlinkat(output.directory_fd, output.temp_name, 0);
        temp_name_in_use = 0;
    }
    if (output.stream != nullptr) {
        closeOutputStream();
    }
    closeTargetDirectory();
}
