#!/usr/bin/env bash
# Installs the Debian package that packaging/build.sh made (dist/), converts the example song with
# the installed program, which must print and write what the program just built does, checks that
# the page and the desktop entry that opens it are installed, and removes the package again.
# As root: tests/package_test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scratch=$(mktemp -d)
trap 'dpkg -r lyric2sysex >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT
dpkg -i dist/lyric2sysex_*.deb >/dev/null
/usr/bin/lyric2sysex examples/twinkle.mid "$scratch/installed.mid" >"$scratch/installed.txt"
build-deb/lyric2sysex examples/twinkle.mid "$scratch/built.mid" >"$scratch/built.txt"
cmp "$scratch/installed.mid" "$scratch/built.mid"
cmp "$scratch/installed.txt" "$scratch/built.txt"
grep -q '^COM ADD_UP$' "$scratch/installed.txt"
cmp /usr/share/lyric2sysex/lyric2sysex.html dist/lyric2sysex.html
grep -qx 'Exec=xdg-open /usr/share/lyric2sysex/lyric2sysex.html' \
    /usr/share/applications/lyric2sysex.desktop
zcat /usr/share/doc/lyric2sysex/changelog.gz | grep -q '^lyric2sysex (1\.'
dpkg -r lyric2sysex >/dev/null
[ ! -e /usr/bin/lyric2sysex ]
echo "package test passed"
