#!/usr/bin/env bash
# The Windows ZIP for musicians: exactly its files, text with CR LF line ends, the page named by
# LYRIC2SYSEX_PAGE under its own name, and the program, which runs from there and carries its
# version in its properties.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD build=$PWD/build-win-package scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export WINEPREFIX=$PWD/build-win/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=C
echo '<!doctype html><title>stand-in</title>' >"$scratch/page.html"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DBUILD_TESTING=OFF \
    -DLYRIC2SYSEX_PAGE="$scratch/page.html" >/dev/null
cmake --build "$build" -j2 >/dev/null
rm -f "$build"/lyric2sysex-*.zip
(cd "$build" && cpack -G ZIP >/dev/null)
cd "$scratch" && cmake -E tar xf "$build"/lyric2sysex-*.zip && cd lyric2sysex-*-win64

fail() {
    echo "FAILED: $*" >&2
    exit 1
}
diff <(ls) - <<<$'LICENSE\nREADME.txt\nlyric2sysex.exe\nlyric2sysex.html\nlyric2sysex.txt' ||
    fail "the files"
cmp lyric2sysex.html ../page.html
for text in LICENSE README.txt lyric2sysex.txt; do
    ! grep -qv $'\r$' $text || fail "$text has a line without CR LF"
done
head -1 README.txt | grep -q '^Open lyric2sysex.html in your browser' || fail "README.txt's start"
grep -qF 'lyric2sysex.exe -o converted songs\*.mid' README.txt || fail "README.txt's commands"
cmp <(tr -d '\r' <lyric2sysex.txt) "$build/lyric2sysex.txt"
version=$(strings -el lyric2sysex.exe | grep -A1 -x FileVersion | tail -1)
[ "$(wine lyric2sysex.exe --version)" = "lyric2sysex $version" ] || fail "version $version"
echo "package check passed"
