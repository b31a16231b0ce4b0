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
# Two hostile cases, always on 16 MiB files of their own whatever BENCH_MIB says, show that the
# scan stays linear where it once was quadratic: a file of 1,023 tracks whose messages never end
# within their track takes at most 3x a plain file's time (whether it converts or is refused), and
# a folder run of 100,000 inputs, two of them named alike but for letter case, is refused within
# a second.
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
HOSTILE_MIB=16
RUNAWAY=$OUT/runaway-$HOSTILE_MIB.mid
PLAIN_HOSTILE=$OUT/plain-$HOSTILE_MIB.mid
MANY_DIR=$OUT/many-inputs
MANY_REPORT=$OUT/many-inputs.txt
MANY_COUNT=100000
MANY_LABEL=100,000
trap 'rm -f "$RESULT" "$COPY" "$RSS_REPORT" "$TIMES" "$MANY_REPORT"; rm -rf "$MANY_DIR"' EXIT

note "== inputs ($MIB MiB each, under $OUT/)"
"$GENERATOR" plain "$MIB" "$PLAIN" || fail "make_bench_midi plain"
"$GENERATOR" commands "$MIB" "$COMMANDS" || fail "make_bench_midi commands"
note "== hostile inputs ($HOSTILE_MIB MiB each, under $OUT/)"
"$GENERATOR" runaway "$HOSTILE_MIB" "$RUNAWAY" || fail "make_bench_midi runaway"
if [[ $PLAIN_HOSTILE != "$PLAIN" ]]; then
    "$GENERATOR" plain "$HOSTILE_MIB" "$PLAIN_HOSTILE" || fail "make_bench_midi plain"
fi
# Inputs that need not exist: the run must be refused on their names alone. The last one's file
# name equals the first one's but for letter case, and it sits in another folder: the pair is
# found only by comparing what follows the last slash, never by comparing whole arguments.
many_inputs=()
for ((i = 0; i < MANY_COUNT; i++)); do
    printf -v name 'song%06d.mid' "$i"
    many_inputs+=("$name")
done
many_inputs+=(x/SONG000000.MID)

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

# The status of lyric2sysex on the runaway file: 0 (converted) and 1 (refused) are both fine.
runaway_status() {
    local status=0
    "$CONVERTER" -q "$RUNAWAY" "$RESULT" >/dev/null 2>&1 || status=$?
    [[ $status -eq 0 || $status -eq 1 ]] ||
        fail "lyric2sysex exited $status on $RUNAWAY (a crash; 0 or 1 was expected)"
    echo "$status"
}
RUNAWAY_STATUS=$(runaway_status)
note "lyric2sysex exits $RUNAWAY_STATUS on the runaway file"

# One folder run of all the inputs: prints "WALL CPU STATUS" (microseconds). /usr/bin/time times
# the converter alone; without it the clock also counts the shell's expansion of 100,000 words
# (a few tenths of a second), which only makes the bar harder to meet. The arguments take more
# than the usual 2 MiB that the kernel allows with an 8 MiB stack (a quarter of the stack limit),
# so this subshell raises its stack limit: the run must be one invocation, or it would not see
# both names.
run_many_inputs() {
    local stack
    stack=$(ulimit -s)
    if [[ $stack != unlimited ]] && ((stack < 16384)); then
        ulimit -s 16384 2>/dev/null || fail "cannot raise the stack limit for $MANY_COUNT arguments"
    fi
    rm -rf "$MANY_DIR"
    mkdir -p "$MANY_DIR"
    local status=0 wall cpu user system
    if [[ $have_time -eq 1 ]]; then
        /usr/bin/time -f '%e %U %S %x' -o "$RSS_REPORT" \
            "$CONVERTER" -q -o "$MANY_DIR" "${many_inputs[@]}" >"$MANY_REPORT" 2>&1 || true
        # Its report starts with a line of its own when the status is not 0.
        read -r wall user system status < <(tail -n 1 "$RSS_REPORT") ||
            fail "no timing from /usr/bin/time: $(cat "$RSS_REPORT")"
        wall=$(awk -v s="$wall" 'BEGIN {printf "%d", s * 1e6 + 0.5}')
        cpu=$(awk -v u="$user" -v s="$system" 'BEGIN {printf "%d", (u + s) * 1e6 + 0.5}')
    else
        local start=${EPOCHREALTIME/./}
        "$CONVERTER" -q -o "$MANY_DIR" "${many_inputs[@]}" >"$MANY_REPORT" 2>&1 || status=$?
        local end=${EPOCHREALTIME/./}
        times >"$TIMES"
        wall=$((end - start))
        cpu=$(awk 'function us(t, parts) {
                split(t, parts, /[ms]/)
                return int((parts[1] * 60 + parts[2]) * 1e6 + 0.5)
            }
            NR == 2 {print us($1) + us($2)}' "$TIMES")
    fi
    [[ $status -ne 126 ]] || fail "the $MANY_COUNT inputs do not fit one command line"
    [[ $status -eq 2 ]] ||
        fail "lyric2sysex exited $status on $MANY_COUNT inputs two of which are named alike" \
            "(2 was expected): $(head -c 300 "$MANY_REPORT")"
    grep -q 'two inputs named' "$MANY_REPORT" ||
        fail "lyric2sysex did not name the two inputs: $(head -c 300 "$MANY_REPORT")"
    [[ -z $(ls -A "$MANY_DIR") ]] || fail "lyric2sysex wrote into $MANY_DIR before refusing the run"
    echo "$wall $cpu $status"
}
sample=$(run_many_inputs)
MANY_STATUS=${sample##* }
note "lyric2sysex exits $MANY_STATUS on $MANY_LABEL inputs two of which are named alike, and" \
    "writes nothing: $(head -n 1 "$MANY_REPORT")"

# One run of a command whose standard output goes to DEST: prints "WALL CPU", the wall-clock
# time and the user + system CPU time in microseconds. Runs in a subshell ($(...)), so the
# children's times that `times` reports are this command's alone. CPU time is shown as well
# because wall-clock time is only trustworthy on an otherwise idle machine.
run_once() { run_allowing 0 "$@"; }
# The same, for a command whose exit status may be any of the space-separated list ALLOWED.
run_allowing() {
    local allowed=$1 dest=$2
    shift 2
    local start=${EPOCHREALTIME/./} status=0
    "$@" >"$dest" || status=$?
    local end=${EPOCHREALTIME/./}
    [[ " $allowed " == *" $status "* ]] || fail "$* exited with status $status"
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

note "== timing the hostile inputs: median of $RUNS runs"
cat "$RUNAWAY" "$PLAIN_HOSTILE" >/dev/null
for ((run = 1; run <= RUNS; run++)); do
    sample=$(run_once /dev/null "$CONVERTER" -q "$PLAIN_HOSTILE" "$RESULT")
    wall[l2s.plain_hostile]+=" ${sample% *}"
    cpu[l2s.plain_hostile]+=" ${sample#* }"
    sample=$(run_allowing "0 1" /dev/null "$CONVERTER" -q "$RUNAWAY" "$RESULT")
    wall[l2s.runaway]+=" ${sample% *}"
    cpu[l2s.runaway]+=" ${sample#* }"
    sample=$(run_many_inputs)
    sample=${sample% *}
    wall[many.inputs]+=" ${sample% *}"
    cpu[many.inputs]+=" ${sample#* }"
    printf '  run %d of %d done\n' "$run" "$RUNS"
done
status=$(runaway_status)
[[ $status -eq $RUNAWAY_STATUS ]] ||
    fail "lyric2sysex exits differently on the same runaway file from run to run"

declare -A med med_cpu
for key in l2s.plain_hostile l2s.runaway many.inputs; do
    # shellcheck disable=SC2086
    med[$key]=$(median ${wall[$key]})
    # shellcheck disable=SC2086
    med_cpu[$key]=$(median ${cpu[$key]})
done
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
note ""
note "hostile inputs (median of $RUNS runs; wall-clock, user+sys CPU in brackets):"
twice() { echo "$(seconds "${med[$1]}") ($(seconds "${med_cpu[$1]}"))"; }
line() { printf '  %-42s %s\n' "$1" "$2"; }
line "runaway file, $HOSTILE_MIB MiB, 1,023 tracks:" \
    "$(twice l2s.runaway), exit status $RUNAWAY_STATUS"
line "plain file, $HOSTILE_MIB MiB:" "$(twice l2s.plain_hostile)"
line "runaway file / plain file:" "$(both l2s.runaway l2s.plain_hostile)"
many_clock="lyric2sysex alone"
[[ $have_time -eq 1 ]] || many_clock="with the shell's expansion of the arguments: no /usr/bin/time"
line "$MANY_LABEL inputs in folder mode, refused:" \
    "$(twice many.inputs), exit status $MANY_STATUS ($many_clock)"
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
verdict "runaway file at most 3x a plain file's time" \
    "$(awk -v r="${med[l2s.runaway]}" -v p="${med[l2s.plain_hostile]}" 'BEGIN {print (r <= 3 * p) ? 1 : 0}')" \
    "($(ratio "${med[l2s.runaway]}" "${med[l2s.plain_hostile]}"), exit status $RUNAWAY_STATUS)"
verdict "$MANY_LABEL inputs refused in at most 1.0 s" \
    "$(awk -v t="${med[many.inputs]}" 'BEGIN {print (t <= 1e6) ? 1 : 0}')" \
    "($(seconds "${med[many.inputs]}"), exit status $MANY_STATUS)"
if [[ $missed -ne 0 ]]; then
    note "RESULT: a bar is missed"
    exit 1
fi
note "RESULT: every measured bar is met"
