#!/usr/bin/env bash
# The test suite itself built for Windows, as the README's test command builds it there, and run
# under wine: every row passes or is skipped with its reason. GoogleTest comes from Debian's source
# (googletest), built by the same MinGW-w64 compilers; everything is linked statically, so that
# wine needs no MinGW DLLs.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$PWD/build-win-tests
toolchain=$PWD/cmake/mingw-w64-x86_64-posix.cmake
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# One server for every run (a cold start, and the prefix made on the first, cost seconds).
mkdir -p "$WINEPREFIX" && { wineserver -p || true; }
trap 'wineserver -k || true' EXIT
# The prefix is made now: the build runs a test program to list its tests, within seconds.
wine cmd /c exit >/dev/null 2>&1

cmake -S /usr/src/googletest -B "$build/googletest-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_INSTALL_PREFIX="$build/googletest" -DBUILD_GMOCK=OFF >/dev/null
cmake --build "$build/googletest-build" -j2 --target install >/dev/null
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DBUILD_TESTING=ON \
    -DGTest_DIR="$build/googletest/lib/cmake/GTest" -DCMAKE_EXE_LINKER_FLAGS=-static \
    -DCMAKE_CROSSCOMPILING_EMULATOR=wine >/dev/null
cmake --build "$build" -j2 >/dev/null

wine "$build/tests/primitives_test.exe" --gtest_brief=1
wine "$build/tests/e2e_test.exe" --gtest_brief=1
