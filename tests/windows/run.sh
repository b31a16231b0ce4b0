#!/usr/bin/env bash
# The Windows program, cross-built with MinGW-w64, under wine: the example and two benchmark files
# give output and trace byte-identical to the native build (build/, built by the caller), no
# temporary file stays behind, and the end-to-end suite passes against it.
set -euo pipefail
cd "$(dirname "$0")/../.."
windows=$PWD/build-win/lyric2sysex.exe
out=build-win/compare
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DBUILD_TESTING=OFF >/dev/null
cmake --build build-win -j2 >/dev/null
cmake --build build -j2 --target make_bench_midi >/dev/null

export WINEPREFIX=$PWD/build-win/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# One server for every run (a cold start, and the prefix made on the first, cost seconds); it
# may still be up from an earlier run.
mkdir -p "$WINEPREFIX" && { wineserver -p || true; }
trap 'wineserver -k || true' EXIT
wine "$windows" --version >/dev/null 2>&1

rm -rf "$out" && mkdir -p "$out"
build/bench/make_bench_midi plain 3 "$out/plain.mid"
build/bench/make_bench_midi commands 3 "$out/commands.mid"
passed=0 failed=0
check() {
    if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)) && echo "FAILED: $*"; fi
}
for input in examples/twinkle.mid "$out/plain.mid" "$out/commands.mid"; do
    name=$(basename "$input" .mid)
    build/lyric2sysex "$input" "$out/$name-linux.mid" >"$out/$name-linux.trace"
    wine "$windows" "$input" "$out/$name-windows.mid" >"$out/$name-windows.trace"
    check cmp "$out/$name-linux.mid" "$out/$name-windows.mid"
    check cmp "$out/$name-linux.trace" "$out/$name-windows.trace"
done
check test -z "$(find "$out" -name '.*')"
echo "wine: $passed passed, $failed failed"
((failed == 0))

LYRIC2SYSEX_BINARY=$windows LYRIC2SYSEX_WRAPPER=wine LYRIC2SYSEX_TARGET=windows \
    build/tests/e2e_test --gtest_brief=1
