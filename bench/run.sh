#!/usr/bin/env bash
# Times lyric2sysex against midicsv and cat on two generated Standard MIDI Files and checks the
# performance bars. Run from the repository root:
#
#   bench/run.sh                 # two 64 MiB files, median of 5 runs
#   BENCH_MIB=16 bench/run.sh    # smaller files for a quick look
#   BENCH_RUNS=9 bench/run.sh    # more runs per median
#   BENCH_CLOCK=cpu bench/run.sh # judge the bars on user+sys CPU time instead of wall-clock
#                                # time, for a machine that is busy with other work
#
# Bars: on the plain file lyric2sysex is at least 8x faster than midicsv; the file full of lyric
# commands takes at most 2x the plain file's time; peak resident memory stays under 4 MiB.
# Exit status: 0 when every bar that could be measured is met, 1 when a bar is missed or the
# converter misbehaves. A bar whose tool is missing (midicsv, /usr/bin/time) and could not be
# installed (only root installs it) is reported as NOT CHECKED.
set -euo pipefail
shopt -s inherit_errexit

cd "$(dirname "${BASH_SOURCE[0]}")/.."

MIB=${BENCH_MIB:-64}
RUNS=${BENCH_RUNS:-5}
CLOCK=${BENCH_CLOCK:-wall}
if ! [[ $MIB =~ ^[1-9][0-9]*$ && $RUNS =~ ^[1-9][0-9]*$ ]]; then
    echo "BENCH_MIB and BENCH_RUNS must be positive whole numbers" >&2
    exit 2
fi
if [[ $CLOCK != wall && $CLOCK != cpu ]]; then
    echo "BENCH_CLOCK must be wall or cpu" >&2
    exit 2
fi
BUILD=build-bench
OUT=bench/out
CONVERTER=$BUILD/lyric2sysex
GENERATOR=$BUILD/bench/make_bench_midi

note() { printf '%s\n' "$*"; }
fail() {
    printf 'FAILED: %s\n' "$*" >&2
    exit 1
}

# Installs a Debian package when a tool is missing and we may; true when the tool is there.
ensure_tool() {
    local tool=$1 package=$2
    [[ -x $tool ]] || command -v "$tool" >/dev/null 2>&1 && return 0
    if [[ $(id -u) -ne 0 ]]; then
        note "note: $tool is missing and only root installs it (apt-get install $package)"
        return 1
    fi
    note "installing $package for $tool ..."
    if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$package" >/dev/null 2>&1; then
        apt-get update -q >/dev/null 2>&1 || true
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$package" >/dev/null 2>&1 || true
    fi
    [[ -x $tool ]] || command -v "$tool" >/dev/null 2>&1 && return 0
    note "note: could not install $package"
    return 1
}

note "== build (Release, $BUILD)"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null ||
    fail "cmake configure"
cmake --build "$BUILD" -j2 --target lyric2sysex make_bench_midi >/dev/null || fail "build"

have_midicsv=1
ensure_tool midicsv midicsv || have_midicsv=0
have_time=1
ensure_tool /usr/bin/time time || have_time=0

mkdir -p "$OUT"
PLAIN=$OUT/plain-$MIB.mid
COMMANDS=$OUT/commands-$MIB.mid
RESULT=$OUT/result.mid
COPY=$OUT/copy.mid
RSS_REPORT=$OUT/time-v.txt
TIMES=$OUT/times.txt
trap 'rm -f "$RESULT" "$COPY" "$RSS_REPORT" "$TIMES"' EXIT

note "== inputs ($MIB MiB each, under $OUT/)"
"$GENERATOR" plain "$MIB" "$PLAIN" || fail "make_bench_midi plain"
"$GENERATOR" commands "$MIB" "$COMMANDS" || fail "make_bench_midi commands"

note "== sanity"
for file in "$PLAIN" "$COMMANDS"; do
    status=0
    "$CONVERTER" "$file" "$RESULT" >/dev/null || status=$?
    [[ $status -eq 0 ]] || fail "lyric2sysex exited $status on $file"
done
# The last result is the commands file's: the commands must have changed it.
cmp -s "$COMMANDS" "$RESULT" && fail "lyric2sysex left $COMMANDS unchanged"
"$CONVERTER" "$PLAIN" "$RESULT" >/dev/null
cmp "$PLAIN" "$RESULT" || fail "lyric2sysex changed $PLAIN, which holds no lyric command"
note "lyric2sysex exits 0 on both files; its output of the plain file is byte-identical"

# One run of a command whose standard output goes to DEST: prints "WALL CPU", the wall-clock
# time and the user + system CPU time in microseconds. Runs in a subshell ($(...)), so the
# children's times that `times` reports are this command's alone. CPU time is shown as well
# because wall-clock time is only trustworthy on an otherwise idle machine.
run_once() {
    local dest=$1
    shift
    local start=${EPOCHREALTIME/./}
    "$@" >"$dest" || fail "$* exited with status $?"
    local end=${EPOCHREALTIME/./}
    times >"$TIMES"
    awk -v wall=$((end - start)) 'function us(t, parts) {
            split(t, parts, /[ms]/)
            return int((parts[1] * 60 + parts[2]) * 1e6 + 0.5)
        }
        NR == 2 {print wall, us($1) + us($2)}' "$TIMES"
}

median() { printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

declare -A wall cpu
tools=(l2s cat)
[[ $have_midicsv -eq 1 ]] && tools+=(midicsv)
LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)
note "== timing: median of $RUNS runs, interleaved so that a busy moment hits all tools alike"
cat "$PLAIN" "$COMMANDS" >/dev/null # both in the page cache before the first timed run
for ((run = 1; run <= RUNS; run++)); do
    for kind in plain commands; do
        [[ $kind == plain ]] && file=$PLAIN || file=$COMMANDS
        for tool in "${tools[@]}"; do
            case $tool in
            l2s) sample=$(run_once /dev/null "$CONVERTER" "$file" "$RESULT") ;;
            cat) sample=$(run_once "$COPY" cat "$file") ;;
            midicsv) sample=$(run_once /dev/null midicsv "$file") ;;
            esac
            wall[$tool.$kind]+=" ${sample% *}"
            cpu[$tool.$kind]+=" ${sample#* }"
        done
    done
    printf '  run %d of %d done\n' "$run" "$RUNS"
done

declare -A med med_cpu
for tool in "${tools[@]}"; do
    for kind in plain commands; do
        # shellcheck disable=SC2086  # the samples are a space-separated list on purpose
        med[$tool.$kind]=$(median ${wall[$tool.$kind]})
        # shellcheck disable=SC2086
        med_cpu[$tool.$kind]=$(median ${cpu[$tool.$kind]})
    done
done

declare -A rss
for kind in plain commands; do
    [[ $kind == plain ]] && file=$PLAIN || file=$COMMANDS
    rss[$kind]=""
    if [[ $have_time -eq 1 ]]; then
        /usr/bin/time -v -o "$RSS_REPORT" "$CONVERTER" "$file" "$RESULT" >/dev/null
        rss[$kind]=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$RSS_REPORT")
    fi
done

seconds() { awk -v us="$1" 'BEGIN {printf "%.3f s", us / 1e6}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2fx", a / b}'; }

note ""
note "== results ($MIB MiB files, median of $RUNS runs)"
note "machine: $(nproc) cores; load average before timing $LOAD_BEFORE, after $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-10s %-10s %12s %12s %12s\n' file time lyric2sysex midicsv "cat > copy"
for kind in plain commands; do
    for clock in wall cpu; do
        row=()
        for tool in l2s midicsv cat; do
            if [[ $tool == midicsv && $have_midicsv -eq 0 ]]; then
                row+=("n/a")
            elif [[ $clock == wall ]]; then
                row+=("$(seconds "${med[$tool.$kind]}")")
            else
                row+=("$(seconds "${med_cpu[$tool.$kind]}")")
            fi
        done
        label="wall-clock"
        [[ $clock == cpu ]] && label="user+sys"
        printf '%-10s %-10s %12s %12s %12s\n' "$([[ $clock == wall ]] && echo "$kind")" "$label" \
            "${row[@]}"
    done
done
note ""
for kind in plain commands; do
    printf 'peak resident memory of lyric2sysex, %-8s file: %s\n' "$kind" \
        "$([[ -n ${rss[$kind]} ]] && echo "${rss[$kind]} KiB" || echo "n/a (no /usr/bin/time)")"
done
note ""
note "ratios (wall-clock; user+sys CPU in brackets):"
both() { echo "$(ratio "${med[$1]}" "${med[$2]}") ($(ratio "${med_cpu[$1]}" "${med_cpu[$2]}"))"; }
if [[ $have_midicsv -eq 1 ]]; then
    note "  midicsv / lyric2sysex, plain file:         $(both midicsv.plain l2s.plain)"
fi
note "  lyric2sysex, commands file / plain file:   $(both l2s.commands l2s.plain)"
note "  lyric2sysex / cat, plain file:             $(both l2s.plain cat.plain)"
note "  lyric2sysex / cat, commands file:          $(both l2s.commands cat.commands)"
if awk -v load="${LOAD_BEFORE%% *}" -v cores="$(nproc)" 'BEGIN {exit !(load >= cores / 2)}'; then
    note "warning: the machine was busy (load average ${LOAD_BEFORE%% *} on $(nproc) cores);" \
        "wall-clock times are inflated; rerun on an idle machine or judge by BENCH_CLOCK=cpu"
fi

missed=0
verdict() {  # verdict DESCRIPTION PASSED(1/0/empty for not checked) DETAIL
    local word
    case $2 in
    1) word=met ;;
    0)
        word=MISSED
        missed=1
        ;;
    *) word="NOT CHECKED" ;;
    esac
    printf '  %-52s %-12s %s\n' "$1" "$word" "$3"
}
note ""
if [[ $CLOCK == cpu ]]; then
    note "bars (judged on user+sys CPU time, BENCH_CLOCK=cpu):"
    for key in "${!med_cpu[@]}"; do
        med[$key]=${med_cpu[$key]}
    done
else
    note "bars (judged on wall-clock time; BENCH_CLOCK=cpu judges on CPU time):"
fi
if [[ $have_midicsv -eq 1 ]]; then
    verdict "plain file at least 8x faster than midicsv" \
        "$(awk -v m="${med[midicsv.plain]}" -v l="${med[l2s.plain]}" 'BEGIN {print (m >= 8 * l) ? 1 : 0}')" \
        "($(ratio "${med[midicsv.plain]}" "${med[l2s.plain]}"))"
else
    verdict "plain file at least 8x faster than midicsv" "" "(midicsv missing)"
fi
verdict "commands file at most 2x the plain file's time" \
    "$(awk -v c="${med[l2s.commands]}" -v p="${med[l2s.plain]}" 'BEGIN {print (c <= 2 * p) ? 1 : 0}')" \
    "($(ratio "${med[l2s.commands]}" "${med[l2s.plain]}"))"
if [[ -n ${rss[plain]} && -n ${rss[commands]} ]]; then
    verdict "peak RSS under 4 MiB on both files" \
        "$(((rss[plain] < 4096 && rss[commands] < 4096) ? 1 : 0))" \
        "(${rss[plain]} KiB, ${rss[commands]} KiB)"
else
    verdict "peak RSS under 4 MiB on both files" "" "(/usr/bin/time missing)"
fi
if [[ $missed -ne 0 ]]; then
    note "RESULT: a bar is missed"
    exit 1
fi
note "RESULT: every measured bar is met"
