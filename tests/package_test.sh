#!/usr/bin/env bash
# Builds the Debian package, installs it, converts the example song with the installed program,
# which must print and write what the program just built does, and removes the package again.
# As root: tests/package_test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-package scratch=$(mktemp -d)
trap 'dpkg -r lyric2sysex >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT
cmake -S . -B $build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build $build -j2 >/dev/null
rm -f $build/lyric2sysex_*.deb
(cd $build && cpack -G DEB >/dev/null)
dpkg -i $build/lyric2sysex_*.deb >/dev/null
/usr/bin/lyric2sysex examples/twinkle.mid "$scratch/installed.mid" >"$scratch/installed.txt"
$build/lyric2sysex examples/twinkle.mid "$scratch/built.mid" >"$scratch/built.txt"
cmp "$scratch/installed.mid" "$scratch/built.mid"
cmp "$scratch/installed.txt" "$scratch/built.txt"
grep -q '^COM ADD_UP$' "$scratch/installed.txt"
dpkg -r lyric2sysex >/dev/null
[ ! -e /usr/bin/lyric2sysex ]
echo "package test passed"
