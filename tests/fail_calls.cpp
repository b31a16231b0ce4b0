// Preloaded into the converter, makes one C library call fail as a failing disk or
// a lost server would: LYRIC2SYSEX_FAIL names the call, and after a colon which of its
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

// The call itself, unless it is the one to fail.
template <typename Function, typename... Args>
int pass(Function*, const char* name, Args... args) {
    return fails(name) ? -1 : reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name))(args...);
}

}  // namespace

extern "C" {
int fsync(int fd) {
    return pass(fsync, "fsync", fd);
}
int fchmod(int fd, mode_t mode) {
    return pass(fchmod, "fchmod", fd, mode);
}
int linkat(int from_dir, const char* from, int to_dir, const char* to, int flags) {
    return pass(linkat, "linkat", from_dir, from, to_dir, to, flags);
}
int renameat(int from_dir, const char* from, int to_dir, const char* to) {
    return pass(renameat, "renameat", from_dir, from, to_dir, to);
}
int openat64(int directory, const char* path, int flags, mode_t mode) {
    return pass(openat64, "openat64", directory, path, flags, mode);
}
int fclose(FILE* stream) {
    const int closed = reinterpret_cast<decltype(fclose)*>(dlsym(RTLD_NEXT, "fclose"))(stream);
    return closed != 0 || fails("fclose") ? EOF : 0;
}
}
