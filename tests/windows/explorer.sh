#!/usr/bin/env bash
# The Windows program as musicians meet it, under wine. Run directly in a pseudo-terminal, its
# console holds it alone, as when Explorer starts it: it explains itself or converts the dropped
# files, and waits for a key. From cmd (a batch file, which passes its quotes on as typed) it
# expands unquoted patterns. Needs build/lyric2sysex and build-win, as tests/windows/run.sh
# leaves them.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD native=$PWD/build/lyric2sysex windows=$PWD/build-win/lyric2sysex.exe
export WINEPREFIX=$PWD/build-win/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=C.UTF-8
mkdir -p "$WINEPREFIX" && { wineserver -p || true; }
scratch=$(mktemp -d)
trap 'wineserver -k || true; rm -rf "$scratch"' EXIT
# A new prefix takes seconds to make: not while a test waits for the program.
wine "$windows" --version </dev/null >/dev/null 2>&1
cd "$scratch"

fail() {
    echo "FAILED: $*" >&2
    exit 1
}
# The screen, without the cursor's escape sequences and the console's CRs.
shown() { sed 's/\x1b\[[0-9;?]*[A-Za-z]//g; s/\r//g' screen; }

# Runs the program with its console as its input, and presses a key once it has asked for one;
# a second later it must still be waiting.
explorer() {
    rm -f key && mkfifo key
    script -qec "wine $(printf '%q ' "$@")" /dev/null <key >screen &
    local pid=$!
    exec 3>key
    for _ in $(seq 100); do
        ! grep -q 'Press any key' screen || break
        sleep 0.1
    done
    sleep 1
    kill -0 $pid || fail "no wait for a key: $(shown)"
    printf x >&3
    exec 3>&-
    wait $pid
}

mkdir songs out empty
cp "$root/examples/twinkle.mid" songs/a.mid
cp "$root/examples/twinkle.mid" "songs/é ü.mid"
"$native" songs/a.mid expected.mid >/dev/null
program=$(winepath -w "$windows")
cat >run.bat <<EOF
@echo off
$program -q -o out songs\\*.mid
echo status %ERRORLEVEL%
$program -q -o empty "songs\\*.mid"
echo status %ERRORLEVEL%
$program -o empty songs\\*.x
echo status %ERRORLEVEL%
EOF
# cmd ends with the last status.
{ wine cmd /c run.bat </dev/null || true; } | tr -d "\r" >printed
{
    printf 'status 0\nsongs\\*.mid: file can'\''t read: Invalid argument\nstatus 1\n'
    printf 'no file matches songs\\*.x\n'
    "$native" --help
    printf 'status 2\n'
} | diff - printed || fail "patterns from cmd"
cmp expected.mid out/a.mid
cmp expected.mid "out/é ü.mid"
[ -z "$(ls empty)" ] || fail "a refused run wrote files"

# A console that cmd shares: the command line as ever.
status=0
script -qec "wine cmd /c ${program//\\/\\\\} songs/a.mid" /dev/null </dev/null >screen || status=$?
[ "$status $(shown)" = "2 no output files" ] || fail "through cmd: $status $(shown)"

explorer "$windows"
shown | grep -q 'open lyric2sysex.html in your browser' || fail "no welcome: $(shown)"

echo kept >songs/a-sysex.mid
status=0
explorer "$windows" "$(winepath -w "songs/é ü.mid")" "$(winepath -w songs/a.mid)" \
    "$(winepath -w out)" || status=$?
[ $status = 1 ] || fail "exit status $status for two refused files"
cmp expected.mid "songs/é ü-sysex.mid"
[ "$(cat songs/a-sysex.mid)" = kept ] || fail "an existing file was replaced"
diff - <(shown) <<'EOF' || fail "dropped files"
é ü.mid -> é ü-sysex.mid: 7 commands
a.mid: a-sysex.mid is there already and is not replaced
out: a folder; drop the songs in it instead

Press any key to close this window.
EOF
echo "Explorer and cmd checks passed"
