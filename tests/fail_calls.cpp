// Preloaded into the converter, makes one C library call fail as a failing disk, a full server or
// a full process table would: LYRIC2SYSEX_FAIL names the call, and after a colon which of its
// calls fails (all of them without); after '<', every call before that one fails as if the name
// it makes were taken.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool read_failed = false;

bool fails(const char* name) {
    static int calls = 0;
    const char* wanted = std::getenv("LYRIC2SYSEX_FAIL");
    const std::size_t length = std::strlen(name);
    if (wanted == nullptr || std::strncmp(wanted, name, length) != 0 ||
        !std::strchr(":<", wanted[length]))
        return false;
    const int n = std::atoi(wanted + length + 1), call = ++calls;
    const bool failing = wanted[length] == '\0' || (wanted[length] == ':' ? call == n : call < n);
    if (failing)
        errno = wanted[length] == '<' ? EEXIST : EIO;
    return failing;
}

template <typename Function>
Function* real(Function*, const char* name) {
    return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

// The call itself, unless it is the one to fail.
template <typename Function, typename... Args>
int pass(Function* self, const char* name, Args... args) {
    return fails(name) ? -1 : real(self, name)(args...);
}

}  // namespace

extern "C" {
int fsync(int fd) {
    return pass(fsync, "fsync", fd);
}
int fchmod(int fd, mode_t mode) {
    return pass(fchmod, "fchmod", fd, mode);
}
int fstat64(int fd, struct stat64* status) {
    return pass(fstat64, "fstat64", fd, status);
}
int linkat(int from_dir, const char* from, int to_dir, const char* to, int flags) {
    return pass(linkat, "linkat", from_dir, from, to_dir, to, flags);
}
int renameat(int from_dir, const char* from, int to_dir, const char* to) {
    return pass(renameat, "renameat", from_dir, from, to_dir, to);
}
int fseeko64(FILE* stream, off64_t offset, int whence) {
    return pass(fseeko64, "fseeko64", stream, offset, whence);
}
int openat64(int directory, const char* path, int flags, mode_t mode) {
    return pass(openat64, "openat64", directory, path, flags, mode);
}
pid_t fork() {
    return pass(fork, "fork");
}
pid_t waitpid(pid_t child, int* status, int options) {
    return real(waitpid, "waitpid")(child, status, options) != child || fails("waitpid") ? -1
                                                                                         : child;
}
int fclose(FILE* stream) {
    return real(fclose, "fclose")(stream) != 0 || fails("fclose") ? EOF : 0;
}
size_t fread(void* bytes, size_t size, size_t count, FILE* stream) {
    read_failed = read_failed || fails("fread");
    return read_failed ? 0 : real(fread, "fread")(bytes, size, count, stream);
}
int ferror(FILE* stream) {
    return read_failed || real(ferror, "ferror")(stream);
}
}
