// Preloaded into the converter, makes one C library call fail as a failing disk or a lost
// server would: LYRIC2SYSEX_FAIL names the call, and after a colon which of its calls fails (all
// of them without); after '<', every call before that one fails as if the name it makes were
// taken; after '!', that call is made and SIGTERM sent right after it.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// How this call of the function goes wrong: 'F' it fails, 'S' a signal follows it, 0 not at all.
char fault(const char* name) {
    static int calls = 0;
    const char* wanted = std::getenv("LYRIC2SYSEX_FAIL");
    const std::size_t length = std::strlen(name);
    if (wanted == nullptr || std::strncmp(wanted, name, length) != 0 ||
        !std::strchr(":<!", wanted[length]))
        return 0;
    const char how = wanted[length];
    const int n = how == '\0' ? 0 : std::atoi(wanted + length + 1), call = ++calls;
    if (how != '\0' && (how == '<' ? call >= n : call != n))
        return 0;
    errno = how == '<' ? EEXIST : EIO;
    return how == '!' ? 'S' : 'F';
}

// The call itself, unless it is the one to fail.
template <typename Function, typename... Args>
int pass(Function*, const char* name, Args... args) {
    const char how = fault(name);
    const int result =
        how == 'F' ? -1 : reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name))(args...);
    if (how == 'S')
        std::raise(SIGTERM);
    return result;
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
    return pass(fclose, "fclose", stream);
}
}
