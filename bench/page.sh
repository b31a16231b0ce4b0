#!/usr/bin/env bash
# Times the page, build-wasm/lyric2sysex.html opened from the file in Debian's headless Chromium,
# and measures its memory, on generated files (bench/page.js measures):
#
#   bench/page.sh                # 1 MiB files five times each, 100 MiB files once
#   BENCH_RUNS=9 bench/page.sh   # more runs per median for the 1 MiB files
#
# Bars: a 1 MiB file, plain or full of lyric commands, is shown within 0.3 s of being chosen
# (the median); a 100 MiB file, plain or full of commands, takes at most four times its size in
# memory at its peak, above what the open page took before. Exit status 0 when every bar is met.
# Needs what tests/web/run.sh needs; builds the generator (build-bench) and the page (build-wasm).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

RUNS=${BENCH_RUNS:-5}
OUT=bench/out/page
GENERATOR=build-bench/bench/make_bench_midi
export NODE_PATH=/usr/share/nodejs

{
    cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF &&
        cmake --build build-bench --target make_bench_midi &&
        emcmake cmake -S . -B build-wasm -DBUILD_TESTING=OFF && cmake --build build-wasm -j2
} >/dev/null
mkdir -p "$OUT"
for kind in plain commands; do
    for mib in 1 100; do
        file=$OUT/$kind-$mib.mid
        [ -f "$file" ] || "$GENERATOR" "$kind" "$mib" "$file"
    done
done

measure() { node bench/page.js build-wasm/lyric2sysex.html "$@"; }
results=$({
    measure "$RUNS" "$OUT/plain-1.mid" "$OUT/commands-1.mid"
    measure 1 "$OUT/plain-100.mid" "$OUT/commands-100.mid"
})
printf 'file\tbytes\tmedian ms\tpeak bytes\tpeak/size\n%s\n' "$results"
# Columns: file, size, median time, peak memory, peak over size.
awk -F '\t' '
    $2 <= 1048576 && $3 > 300 { print "FAILED: " $1 " shown in " $3 " ms, over 300 ms"; bad = 1 }
    $2 > 1048576 && $5 > 4 { print "FAILED: " $1 " took " $5 " times its size in memory"; bad = 1 }
    END { if (!bad) print "page: every bar met"; exit bad }' <<<"$results"
