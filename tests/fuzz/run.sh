#!/usr/bin/env bash
# Fuzzes the converter built with AFL++ and the sanitizers, for a bounded time:
#   tests/fuzz/run.sh SECONDS
# Each input runs in a process of its own. Exit status 1 ("ERR") is a refused input and fine; a
# signal, a sanitizer's report or a time-out is not: such an input is kept in
# tests/fuzz/regressions/, which the test suite replays, and the script fails.
set -euo pipefail
seconds=${1:?usage: $0 SECONDS}
cd "$(dirname "$0")/../.."
build=build-afl
cmake -S . -B $build -DCMAKE_CXX_COMPILER=afl-clang-fast++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLYRIC2SYSEX_SANITIZE=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build $build --target lyric2sysex -j2 >/dev/null
# A sanitizer's report must end in a signal: its usual exit status, 1, would pass for "ERR". The
# leak check would slow every run tenfold, in a program that allocates nothing of its own.
export ASAN_OPTIONS=abort_on_error=1:symbolize=0:detect_leaks=0 UBSAN_OPTIONS=abort_on_error=1
export AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_NO_UI=1 AFL_NO_AFFINITY=1
rm -rf $build/findings && mkdir -p $build/work
afl-fuzz -i tests/fuzz/seeds -o $build/findings -m none -t 2000 -V "$seconds" -- \
    $build/lyric2sysex @@ $build/work/out.mid >$build/afl.log 2>&1 ||
    { tail $build/afl.log; exit 1; }
found=$(find $build/findings/default/crashes $build/findings/default/hangs -name 'id:*')
for f in $found; do cp "$f" "tests/fuzz/regressions/$(sha256sum <"$f" | cut -c1-12).mid"; done
[ -z "$found" ] || { echo "fuzz: failing inputs kept in tests/fuzz/regressions/"; exit 1; }
echo "fuzz: $(sed -n 's/^execs_done *: *//p' $build/findings/default/fuzzer_stats) runs, no crash, no hang"
