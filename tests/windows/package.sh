#!/usr/bin/env bash
# The Windows ZIP for musicians that packaging/build.sh made (dist/): exactly its files, text with
# CR LF line ends, the page, and the program, which runs from there and carries its version in its
# properties.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$PWD/build-win-package scratch=$(mktemp -d) page=$PWD/dist/lyric2sysex.html
trap 'rm -rf "$scratch"' EXIT
export WINEPREFIX=$PWD/build-win/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=C
cd "$scratch" && cmake -E tar xf "$OLDPWD"/dist/lyric2sysex-*.zip && cd lyric2sysex-*-win64

fail() {
    echo "FAILED: $*" >&2
    exit 1
}
diff <(ls) - <<<$'LICENSE\nREADME.txt\nlyric2sysex.exe\nlyric2sysex.html\nlyric2sysex.txt' ||
    fail "the files"
cmp lyric2sysex.html "$page"
for text in LICENSE README.txt lyric2sysex.txt; do
    ! grep -qv $'\r$' $text || fail "$text has a line without CR LF"
done
head -1 README.txt | grep -q '^Open lyric2sysex.html in your browser' || fail "README.txt's start"
grep -qF 'lyric2sysex.exe -o converted songs\*.mid' README.txt || fail "README.txt's commands"
cmp <(tr -d '\r' <lyric2sysex.txt) "$build/lyric2sysex.txt"
version=$(strings -el lyric2sysex.exe | grep -A1 -x FileVersion | tail -1)
[ "$(wine lyric2sysex.exe --version)" = "lyric2sysex $version" ] || fail "version $version"
echo "package check passed"
