# The same cross build with the MinGW-w64 compilers whose threads are POSIX threads (Debian:
# g++-mingw-w64-x86-64-posix): GoogleTest needs std::mutex, which the win32-thread ones lack.
#   cmake -S . -B build-win-tests -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64-posix.cmake
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
