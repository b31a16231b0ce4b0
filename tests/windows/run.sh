#!/usr/bin/env bash
# The Windows program, cross-built with MinGW-w64, under wine: the end-to-end suite (build/, built
# by the caller) passes against it, every row comparing whole outputs, whole traces and the
# directory left behind.
set -euo pipefail
cd "$(dirname "$0")/../.."
windows=$PWD/build-win/lyric2sysex.exe
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DBUILD_TESTING=OFF >/dev/null
cmake --build build-win -j2 >/dev/null

export WINEPREFIX=$PWD/build-win/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# One server for every run (a cold start, and the prefix made on the first, cost seconds).
mkdir -p "$WINEPREFIX" && { wineserver -p || true; }
trap 'wineserver -k || true' EXIT
wine "$windows" --version >/dev/null 2>&1

LYRIC2SYSEX_BINARY=$windows LYRIC2SYSEX_WRAPPER=wine LYRIC2SYSEX_TARGET=windows \
    build/tests/e2e_test --gtest_brief=1
