#!/usr/bin/env bash
# Times the folder conversion of the working tree against an earlier commit's, side by side, on
# many small songs and on two large files, and checks that both write the same bytes. Run from
# anywhere:
#
#   bench/folder.sh                      # against 108aab0, 1,000 songs, median of 5 runs
#   BENCH_BEFORE=HEAD~3 bench/folder.sh  # against any commit-ish
#   BENCH_RUNS=3 bench/folder.sh         # fewer runs per median
#   BENCH_FILES=200 BENCH_MIB=16 bench/folder.sh   # a quicker look
#   BENCH_TMPFS=/mnt/ram bench/folder.sh # another memory-backed folder than /dev/shm
#   BENCH_REBUILD=1 bench/folder.sh      # build the earlier commit again even if built before
#   BENCH_HYPERFINE=0 bench/folder.sh    # time with the shell's clock even if hyperfine is there
#
# What is timed, with both programs:
#   - `lyric2sysex -q -o OUT in/*.mid` on BENCH_FILES copies of examples/twinkle.mid, once with
#     every file in a tmpfs folder, where the cost of starting work on each file shows, and once
#     in a folder on the disk under bench/out, where waiting for each output to reach the disk
#     hides it;
#   - `lyric2sysex -q in.mid out.mid` on one BENCH_MIB MiB file of each kind from make_bench_midi
#     (in the tmpfs folder, so that the disk adds no noise), where only the conversion counts.
# OUT is emptied before every timed run, so that both programs write into the same state.
#
# Bars: in the tmpfs folder the working tree converts the songs at least 2x as fast as the
# earlier commit; on each large file it is no slower (at most 1.05x the earlier time: noise).
# The disk figures are reported, not judged. Every output of both programs must be the same
# bytes. Exit status: 0 when every bar is met, 1 when one is missed or the outputs differ, 2 on
# bad settings. Without a tmpfs folder the folder bar is reported as NOT CHECKED.
set -euo pipefail
shopt -s inherit_errexit

cd "$(dirname "${BASH_SOURCE[0]}")/.."

BEFORE=${BENCH_BEFORE:-108aab0}
RUNS=${BENCH_RUNS:-5}
FILES=${BENCH_FILES:-1000}
MIB=${BENCH_MIB:-64}
TMPFS=${BENCH_TMPFS:-/dev/shm}
REBUILD=${BENCH_REBUILD:-0}
if ! [[ $RUNS =~ ^[1-9][0-9]*$ && $FILES =~ ^[1-9][0-9]*$ && $MIB =~ ^[1-9][0-9]*$ ]]; then
    echo "BENCH_RUNS, BENCH_FILES and BENCH_MIB must be positive whole numbers" >&2
    exit 2
fi
BUILD=build-bench
OUT=bench/out
CONVERTER=$BUILD/lyric2sysex
GENERATOR=$BUILD/bench/make_bench_midi
SONG=examples/twinkle.mid

note() { printf '%s\n' "$*"; }
fail() {
    printf 'FAILED: %s\n' "$*" >&2
    exit 1
}

before_sha=$(git rev-parse --verify --quiet "$BEFORE^{commit}") ||
    { echo "BENCH_BEFORE=$BEFORE names no commit" >&2; exit 2; }
before_short=$(git rev-parse --short "$before_sha")
# A commit never changes, so its build is kept under its full hash and reused.
OLD=$OUT/lyric2sysex-$before_sha

# Everything made in a temporary place goes on exit, whatever stops the script.
source_dir="" fast_dir="" disk_dir="" mounted=0
cleanup() {
    [[ -n $source_dir ]] && rm -rf "$source_dir"
    if [[ -n $fast_dir ]]; then
        if [[ $mounted -eq 1 ]]; then
            umount "$fast_dir" || true
        fi
        rm -rf "$fast_dir"
    fi
    [[ -n $disk_dir ]] && rm -rf "$disk_dir"
    return 0
}
trap cleanup EXIT

mkdir -p "$OUT"
note "== build of $BEFORE ($before_short), Release"
if [[ $REBUILD == 1 || ! -x $OLD ]]; then
    # Outside the repository, so that nothing of the working tree leaks into the earlier build.
    source_dir=$(mktemp -d "${TMPDIR:-/tmp}/l2s-before.XXXXXX")
    git archive "$before_sha" | tar -x -C "$source_dir" || fail "git archive $before_short"
    cmake -S "$source_dir" -B "$source_dir/build" -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_TESTING=OFF >/dev/null || fail "cmake configure of $before_short"
    cmake --build "$source_dir/build" -j2 --target lyric2sysex >/dev/null ||
        fail "build of $before_short"
    cp "$source_dir/build/lyric2sysex" "$OLD.part" && mv "$OLD.part" "$OLD"
    rm -rf "$source_dir"
    source_dir=""
else
    note "(reusing $OLD; BENCH_REBUILD=1 builds it again)"
fi

note "== build of the working tree, Release ($BUILD)"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null ||
    fail "cmake configure"
cmake --build "$BUILD" -j2 --target lyric2sysex make_bench_midi >/dev/null || fail "build"
NEW=$CONVERTER

# Absolute paths: the timed commands run in a shell of hyperfine's, wherever it starts them.
OLD=$(realpath "$OLD")
NEW=$(realpath "$NEW")

fs_type() { stat -f -c %T "$1" 2>/dev/null || echo unknown; }

# The memory-backed folder: BENCH_TMPFS if it is one, else one mounted for the run (root only).
have_tmpfs=1
if [[ -d $TMPFS && -w $TMPFS && $(fs_type "$TMPFS") == tmpfs ]]; then
    fast_dir=$(mktemp -d "$TMPFS/l2s-folder.XXXXXX")
else
    fast_dir=$(mktemp -d "${TMPDIR:-/tmp}/l2s-folder.XXXXXX")
    if [[ $(id -u) -eq 0 ]] && mount -t tmpfs -o size=2g tmpfs "$fast_dir" 2>/dev/null; then
        mounted=1
    elif [[ $(fs_type "$fast_dir") != tmpfs ]]; then
        have_tmpfs=0
        note "note: $TMPFS is not a tmpfs folder and none could be mounted (only root mounts" \
            "one); the 'tmpfs' figures are taken on $(fs_type "$fast_dir") in $fast_dir" \
            "and the folder bar is not judged"
    fi
fi
disk_dir=$(mktemp -d "$(realpath "$OUT")/folder.XXXXXX")
note "memory folder: $fast_dir ($(fs_type "$fast_dir")); disk folder: $disk_dir" \
    "($(fs_type "$disk_dir"))"

note "== inputs: $FILES copies of $SONG; $MIB MiB files of each kind"
mkdir "$fast_dir/in"
for ((i = 0; i < FILES; i++)); do
    printf -v name 'song%04d.mid' "$i"
    cp "$SONG" "$fast_dir/in/$name"
done
cp -r "$fast_dir/in" "$disk_dir/in"
for kind in plain commands; do
    "$GENERATOR" "$kind" "$MIB" "$fast_dir/$kind.mid" || fail "make_bench_midi $kind"
done

HAVE_HYPERFINE=1
if [[ ${BENCH_HYPERFINE:-1} == 0 ]]; then
    HAVE_HYPERFINE=0
elif ! command -v hyperfine >/dev/null 2>&1; then
    HAVE_HYPERFINE=0
    note "note: no hyperfine; timing with the shell's clock instead"
fi

median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# Times two shell commands: RUNS runs each after one warm-up, each after its own PREPARE, which
# empties that command's outputs alone (so that the last run's outputs of both stay). Leaves
# "OLD_SECONDS NEW_SECONDS" (medians) in the variable `pair`, and the tables under bench/out.
pair=""
time_pair() {
    local label=$1 old_prepare=$2 old_command=$3 new_prepare=$4 new_command=$5
    if [[ $HAVE_HYPERFINE -eq 1 ]]; then
        local csv=$OUT/folder-$label.csv
        hyperfine --style basic --runs "$RUNS" --warmup 1 \
            --prepare "$old_prepare" --prepare "$new_prepare" \
            --export-csv "$csv" --export-markdown "$OUT/folder-$label.md" \
            --export-json "$OUT/folder-$label.json" \
            -n "$before_short" "$old_command" -n "working tree" "$new_command" ||
            fail "hyperfine on $label (a conversion failed?)"
        # Columns: command,mean,stddev,median,...; the rows in the order given.
        pair=$(awk -F, 'NR > 1 {printf "%s%s", sep, $4; sep = " "}' "$csv")
    else
        local run start end old_times="" new_times="" which prepare command
        # One warm-up of each, as hyperfine does.
        if ! { bash -c "$old_prepare" && bash -c "$old_command" && bash -c "$new_prepare" &&
            bash -c "$new_command"; } >/dev/null; then
            fail "a conversion failed on $label"
        fi
        for ((run = 1; run <= RUNS; run++)); do
            for which in old new; do
                if [[ $which == old ]]; then
                    prepare=$old_prepare command=$old_command
                else
                    prepare=$new_prepare command=$new_command
                fi
                bash -c "$prepare"
                start=${EPOCHREALTIME/./}
                bash -c "$command" >/dev/null || fail "$command failed"
                end=${EPOCHREALTIME/./}
                [[ $which == old ]] && old_times+=" $((end - start))" ||
                    new_times+=" $((end - start))"
            done
        done
        # shellcheck disable=SC2086  # the samples are a space-separated list on purpose
        pair="$(median $old_times) $(median $new_times)"
        pair=$(awk -v p="$pair" 'BEGIN {split(p, t, " "); printf "%.6f %.6f", t[1] / 1e6, t[2] / 1e6}')
    fi
}

# The outputs of both programs' last runs must be the same bytes, one for one.
same_outputs() {
    local old_out=$1 new_out=$2
    local count
    count=$(find "$new_out" -type f | wc -l)
    [[ $count -eq $(find "$old_out" -type f | wc -l) ]] ||
        fail "$before_short and the working tree wrote different numbers of files in $new_out"
    diff -r -q "$old_out" "$new_out" >&2 ||
        fail "$before_short and the working tree wrote different bytes (above)"
}

declare -A old_time new_time
for place in tmpfs disk; do
    [[ $place == tmpfs ]] && dir=$fast_dir || dir=$disk_dir
    note ""
    note "== $FILES songs in one folder run, $place ($dir), median of $RUNS runs"
    q_dir=$(printf '%q' "$dir")
    time_pair "$place" \
        "rm -rf $q_dir/out-old && mkdir $q_dir/out-old" \
        "$(printf '%q' "$OLD") -q -o $q_dir/out-old $q_dir/in/*.mid" \
        "rm -rf $q_dir/out-new && mkdir $q_dir/out-new" \
        "$(printf '%q' "$NEW") -q -o $q_dir/out-new $q_dir/in/*.mid"
    read -r "old_time[$place]" "new_time[$place]" <<<"$pair"
    [[ $(find "$dir/out-new" -type f | wc -l) -eq $FILES ]] ||
        fail "the working tree did not write $FILES outputs in $dir/out-new"
    cmp -s "$SONG" "$dir/out-new/song0000.mid" &&
        fail "the working tree left the commands of $SONG unconverted"
    same_outputs "$dir/out-old" "$dir/out-new"
    note "outputs: $FILES files, byte-identical between $before_short and the working tree"
done

for kind in plain commands; do
    note ""
    note "== one $MIB MiB $kind file, tmpfs, median of $RUNS runs"
    q_in=$(printf '%q' "$fast_dir/$kind.mid")
    q_old=$(printf '%q' "$fast_dir/$kind-old.mid")
    q_new=$(printf '%q' "$fast_dir/$kind-new.mid")
    time_pair "$kind-$MIB" "rm -f $q_old" "$(printf '%q' "$OLD") -q $q_in $q_old" \
        "rm -f $q_new" "$(printf '%q' "$NEW") -q $q_in $q_new"
    read -r "old_time[$kind]" "new_time[$kind]" <<<"$pair"
    cmp "$fast_dir/$kind-old.mid" "$fast_dir/$kind-new.mid" >&2 ||
        fail "$before_short and the working tree wrote different bytes for the $kind file"
    note "outputs: byte-identical between $before_short and the working tree"
    rm -f "$fast_dir/$kind-old.mid" "$fast_dir/$kind-new.mid"
done

seconds() { awk -v s="$1" 'BEGIN {printf "%.3f s", s}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2fx", a / b}'; }

note ""
note "== results (median of $RUNS runs, wall-clock; $(nproc) cores, load average" \
    "$(cut -d' ' -f1-3 /proc/loadavg))"
printf '%-34s %14s %14s %14s\n' case "$before_short" "working tree" "old / new"
for key in tmpfs disk plain commands; do
    case $key in
    tmpfs) label="$FILES songs, -o, tmpfs" ;;
    disk) label="$FILES songs, -o, disk" ;;
    *) label="one $MIB MiB $key file" ;;
    esac
    printf '%-34s %14s %14s %14s\n' "$label" "$(seconds "${old_time[$key]}")" \
        "$(seconds "${new_time[$key]}")" "$(ratio "${old_time[$key]}" "${new_time[$key]}")"
done
[[ $HAVE_HYPERFINE -eq 1 ]] && note "(hyperfine's tables: $OUT/folder-*.md, .json, .csv)"

missed=0
verdict() { # verdict DESCRIPTION PASSED(1/0, - for not judged, empty for not checked) DETAIL
    local word
    case $2 in
    1) word=met ;;
    0)
        word=MISSED
        missed=1
        ;;
    -) word=reported ;;
    *) word="NOT CHECKED" ;;
    esac
    printf '  %-52s %-12s %s\n' "$1" "$word" "$3"
}
note ""
note "bars:"
if [[ $have_tmpfs -eq 1 ]]; then
    verdict "songs on tmpfs at least 2x as fast as $before_short" \
        "$(awk -v o="${old_time[tmpfs]}" -v n="${new_time[tmpfs]}" 'BEGIN {print (o >= 2 * n) ? 1 : 0}')" \
        "($(ratio "${old_time[tmpfs]}" "${new_time[tmpfs]}"))"
else
    verdict "songs on tmpfs at least 2x as fast as $before_short" "" "(no tmpfs folder)"
fi
for kind in plain commands; do
    verdict "$MIB MiB $kind file no slower than $before_short (5%)" \
        "$(awk -v o="${old_time[$kind]}" -v n="${new_time[$kind]}" 'BEGIN {print (n <= 1.05 * o) ? 1 : 0}')" \
        "($(ratio "${new_time[$kind]}" "${old_time[$kind]}") of its time)"
done
verdict "songs on disk" - "(not judged: $(ratio "${old_time[disk]}" "${new_time[disk]}"))"
verdict "outputs byte-identical in every case" 1 ""
if [[ $missed -ne 0 ]]; then
    note "RESULT: a bar is missed"
    exit 1
fi
note "RESULT: every judged bar is met"
