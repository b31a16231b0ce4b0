// Preloaded into the converter to stand for a file system that refuses unnamed temporary files
// (O_TMPFILE), so that the tests reach the converter's fallback to a hidden named file.
// With 64-bit offsets the headers would name open64 for open; both are defined here.
#undef _FILE_OFFSET_BITS
#include <dlfcn.h>
#include <fcntl.h>

#include <cerrno>
#include <cstdarg>

namespace {

using OpenFunction = int (*)(const char*, int, ...);

int openRefusingTmpfile(const char* name, const char* path, int flags, va_list arguments) {
    const mode_t mode = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE
                            ? static_cast<mode_t>(va_arg(arguments, unsigned))
                            : 0;
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    const auto real = reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, name));
    return real(path, flags, mode);
}

}  // namespace

extern "C" int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const int fd = openRefusingTmpfile("open", path, flags, arguments);
    va_end(arguments);
    return fd;
}

extern "C" int open64(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const int fd = openRefusingTmpfile("open64", path, flags, arguments);
    va_end(arguments);
    return fd;
}
