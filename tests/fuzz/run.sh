#!/usr/bin/env bash
# Fuzzes the conversion in-process, built with AFL++ and the sanitizers, for a bounded time:
#   tests/fuzz/run.sh SECONDS
# The target (fuzz_target.cpp) converts each input in memory through the library, in AFL++'s
# persistent mode. A signal, a sanitizer's report or a time-out is a finding: such an input is
# kept in tests/fuzz/regressions/, which the test suite replays through the program, and the
# script fails. A long run: tests/fuzz/run.sh 86400 (a day; about 10 million inputs an hour
# here).
set -euo pipefail
seconds=${1:?usage: $0 SECONDS}
cd "$(dirname "$0")/../.."
build=build-afl
cmake -S . -B $build -DCMAKE_CXX_COMPILER=afl-clang-fast++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLYRIC2SYSEX_SANITIZE=ON -DLYRIC2SYSEX_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build $build --target fuzz_target -j2 >/dev/null
# A sanitizer's report must end in a signal. The leak check would slow every run tenfold, in a
# library that allocates nothing.
export ASAN_OPTIONS=abort_on_error=1:symbolize=0:detect_leaks=0 UBSAN_OPTIONS=abort_on_error=1
export AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_NO_UI=1 AFL_NO_AFFINITY=1
rm -rf $build/findings
afl-fuzz -i tests/fuzz/seeds -o $build/findings -m none -t 2000 -V "$seconds" -- \
    $build/fuzz_target >$build/afl.log 2>&1 || { tail $build/afl.log; exit 1; }
found=$(find $build/findings/default/crashes $build/findings/default/hangs -name 'id:*')
for f in $found; do cp "$f" "tests/fuzz/regressions/$(sha256sum <"$f" | cut -c1-12).mid"; done
[ -z "$found" ] || { echo "fuzz: failing inputs kept in tests/fuzz/regressions/"; exit 1; }
stat() { sed -n "s/^$1 *: *//p" $build/findings/default/fuzzer_stats; }
echo "fuzz: $(stat execs_done) inputs in ${seconds} s ($(stat execs_per_sec) a second)," \
    "$(stat edges_found) of $(stat total_edges) edges, no crash, no hang"
