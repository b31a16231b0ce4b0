#!/usr/bin/env bash
# Fuzzes the real converter binary, built with AFL++ instrumentation and AddressSanitizer +
# UndefinedBehaviorSanitizer, for a bounded time.
#
#   tests/fuzz/run.sh [SECONDS]     (default 60)
#
# The converter keeps process-wide state and ends the process on malformed input, so every input
# runs in a fresh process (the fork server) instead of in-process. Exit status 1 ("ERR") is the
# converter rejecting an input and is fine; a signal, a sanitizer report or a time-out is not.
# Each crashing or hanging input is copied to tests/fuzz/regressions/ (the CTest regression test
# replays that directory) and the script exits non-zero.
set -euo pipefail

seconds="${1:-60}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [SECONDS]" >&2
    exit 2
fi

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$repo"
fuzz_dir="tests/fuzz"
build_dir="build-afl"
findings="$build_dir/findings"
work="$build_dir/work"

if ! command -v afl-fuzz >/dev/null || ! command -v afl-clang-fast++ >/dev/null; then
    if [[ "$(id -u)" != 0 ]]; then
        echo "fuzz: afl++ is missing; install it (apt-get install afl++) or run as root" >&2
        exit 1
    fi
    echo "fuzz: installing afl++"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq afl++ >/dev/null
fi

build_start=$SECONDS
mkdir -p "$build_dir"
cmake -S . -B "$build_dir" -DCMAKE_CXX_COMPILER=afl-clang-fast++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLYRIC2SYSEX_SANITIZE=ON -DBUILD_TESTING=OFF >"$build_dir/configure.log" 2>&1 ||
    { cat "$build_dir/configure.log" >&2; exit 1; }
cmake --build "$build_dir" --target lyric2sysex -j2 >"$build_dir/build.log" 2>&1 ||
    { cat "$build_dir/build.log" >&2; exit 1; }
binary="$build_dir/lyric2sysex"
echo "fuzz: built $binary in $((SECONDS - build_start)) s"

# Sanitizer reports must end in a signal: their default exit status 1 would pass for "ERR".
# The converter's buffers are static, so 2 GiB of heap bounds any sane run. The leak check at exit
# would cost ~50 ms a run, dividing the fuzzer's speed by ten, and finds nothing in a program that
# allocates nothing of its own; the CTest replay runs with it.
export ASAN_OPTIONS="abort_on_error=1:symbolize=0:detect_leaks=0:malloc_limit_mb=2048"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1:symbolize=0"
export AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_NO_UI=1 AFL_NO_AFFINITY=1

rm -rf "$findings" "$work"
mkdir -p "$work"
fuzz_start=$SECONDS
# -t: a converter run takes a few milliseconds; 2 s leaves room for a loaded CI machine.
afl-fuzz -i "$fuzz_dir/seeds" -o "$findings" -x "$fuzz_dir/lyric2sysex.dict" -m none -t 2000 \
    -V "$seconds" -- "$binary" @@ "$work/out.mid" >"$build_dir/afl-fuzz.log" 2>&1 || {
    tail -n 40 "$build_dir/afl-fuzz.log" >&2
    echo "fuzz: afl-fuzz failed (log: $build_dir/afl-fuzz.log)" >&2
    exit 1
}

stats="$findings/default/fuzzer_stats"
stat_of() { sed -n "s/^$1 *: *//p" "$stats"; }

found=0
mkdir -p "$fuzz_dir/regressions"
for kind in crashes hangs; do
    for input in "$findings/default/$kind"/id:*; do
        [[ -f "$input" ]] || continue
        found=$((found + 1))
        what="crash"
        [[ "$kind" == hangs ]] && what="hang"
        name="$what-$(sha256sum "$input" | cut -c1-12).mid"
        cp "$input" "$fuzz_dir/regressions/$name"
        echo "fuzz: $what input saved as $fuzz_dir/regressions/$name ($(wc -c <"$input") bytes):"
        od -An -tx1 -v "$input" | head -n 20
        status=0
        report="$(ASAN_OPTIONS="${ASAN_OPTIONS/symbolize=0/symbolize=1}" \
            UBSAN_OPTIONS="${UBSAN_OPTIONS/symbolize=0/symbolize=1}" \
            timeout -k 2 10 "$binary" "$input" "$work/replay.mid" 2>&1 >/dev/null)" || status=$?
        if ((status == 124 || status == 137)); then
            echo "fuzz: replay: no end within 10 s"
        elif ((status > 128)); then
            echo "fuzz: replay: killed by signal $((status - 128)):"
        else
            echo "fuzz: replay: exit status $status (the fuzzer saw it fail; it may need its timing):"
        fi
        printf '%s\n' "$report" | sed '/^Shadow bytes around/,/ABORTING/d' | head -n 60
    done
done

echo "fuzz: $((SECONDS - fuzz_start)) s, execs=$(stat_of execs_done), execs/s=$(stat_of execs_per_sec)," \
    "paths=$(stat_of corpus_count), edges=$(stat_of edges_found)/$(stat_of total_edges)," \
    "crashes=$(stat_of saved_crashes), hangs=$(stat_of saved_hangs)"
if ((found > 0)); then
    echo "fuzz: FAILED: $found crashing or hanging input(s) copied to $fuzz_dir/regressions/" >&2
    exit 1
fi
echo "fuzz: no crash, no hang"
