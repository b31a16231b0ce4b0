#!/usr/bin/env bash
# Proves that lyric2sysex ships: `cmake --install` lays out the binary and the manual page, the
# page lints clean, and the Debian package installs, converts a file, shows its page and
# uninstalls without leaving anything behind.
#
# Run from the repository root, as root (dpkg -i): tests/package_test.sh
# Builds in build-package/; installs missing tools with apt-get.
set -uo pipefail

cd "$(dirname "$0")/.." || exit 1
build="build-package"
scratch=$(mktemp -d)
installed_package=0

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
pass() { echo "ok: $*"; }

cleanup() {
    if [[ $installed_package == 1 ]]; then
        echo "removing the package after a failure" >&2
        dpkg -r lyric2sysex >/dev/null 2>&1
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

[[ $EUID == 0 ]] || fail "must run as root: the package is installed with dpkg -i"

apt_updated=0
# Installs the package that provides a missing command.
need() {
    local command=$1 package=$2
    command -v "$command" >/dev/null && return 0
    echo "installing $package for $command"
    if [[ $apt_updated == 0 ]]; then
        apt-get update -qq || return 1
        apt_updated=1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$package" \
        >/dev/null || return 1
    command -v "$command" >/dev/null
}
need cmake cmake || fail "cmake is missing and could not be installed"
need make make || fail "make is missing and could not be installed"
need g++ g++ || fail "g++ is missing and could not be installed"
need dpkg-deb dpkg || fail "dpkg-deb is missing"
need dpkg-shlibdeps dpkg-dev || fail "dpkg-shlibdeps is missing and could not be installed"
need groff groff-base || fail "groff is missing and could not be installed"
need man man-db || fail "man is missing and could not be installed"
need mandoc mandoc || echo "note: mandoc could not be installed; its lint is skipped"

if dpkg-query -W -f='${db:Status-Status}' lyric2sysex 2>/dev/null | grep -qx installed; then
    fail "a lyric2sysex package is installed already; remove it first (dpkg -r lyric2sysex)"
fi

# Writes the bytes of a hex listing; '#' starts a comment.
write_hex() {
    local escaped=""
    for byte in $(sed 's/#.*//' | tr -s ' \n' ' '); do
        escaped+="\\x$byte"
    done
    printf '%b' "$escaped" >"$1"
}

# One track: a note, the Text event "$ADD_UP$abc", the note's end and End of Track.
write_hex "$scratch/input.mid" <<'EOF'
4d 54 68 64              # MThd
00 00 00 06              # header length 6
00 00                    # format 0
00 01                    # one track
00 60                    # 96 ticks per quarter note
4d 54 72 6b              # MTrk
00 00 00 1b              # track length 27
00 90 3c 40              # delta 0, note on C4 velocity 64
10 ff 01 0b              # delta 16, Text event, 11 bytes:
24 41 44 44 5f 55 50 24  #   "$ADD_UP$"
61 62 63                 #   "abc"
60 80 3c 00              # delta 96, note off C4
00 ff 2f 00              # delta 0, End of Track
EOF
write_hex "$scratch/expected.mid" <<'EOF'
4d 54 68 64              # MThd
00 00 00 06              # header length 6
00 00                    # format 0
00 01                    # one track
00 60                    # 96 ticks per quarter note
4d 54 72 6b              # MTrk
00 00 00 1c              # track length 28: the SysEx event is one byte longer than the text
00 90 3c 40              # delta 0, note on C4 velocity 64
10 f0 0d                 # delta 16 kept, SysEx, length 13 = 2 * 3 + 7
00 48 05 7f 07 00        #   upper line header
06 01 06 02 06 03        #   "abc", each byte as its high and its low nibble
f7                       #   end of SysEx
60 80 3c 00              # delta 96, note off C4
00 ff 2f 00              # delta 0, End of Track
EOF
expected_trace=$'NOTE ON\nME 01, size=11\nCOM ADD_UP\nNOTE OFF\nME 2F, size=0'

# Converts the fixture with the given binary and compares the output and the whole trace.
check_conversion() {
    local binary=$1 where=$2 trace status
    rm -f "$scratch/output.mid"
    trace=$("$binary" "$scratch/input.mid" "$scratch/output.mid")
    status=$?
    [[ $status == 0 ]] || fail "$where: conversion exited with $status; trace: $trace"
    [[ $trace == "$expected_trace" ]] ||
        fail "$where: trace differs; expected:"$'\n'"$expected_trace"$'\n'"got:"$'\n'"$trace"
    cmp "$scratch/expected.mid" "$scratch/output.mid" ||
        fail "$where: converted file differs from the expected bytes"
    pass "$where: conversion byte for byte, trace as expected"
}

# Both linters on a page, warnings counted as failures.
lint_page() {
    local page=$1 messages
    messages=$(zcat -f "$page" | groff -man -ww -z 2>&1) || fail "groff failed on $page: $messages"
    [[ -z $messages ]] || fail "groff -man -ww warns on $page:"$'\n'"$messages"
    pass "groff -man -ww -z: no warnings"
    if command -v mandoc >/dev/null; then
        messages=$(zcat -f "$page" | mandoc -T lint -W style 2>&1) ||
            fail "mandoc -T lint on $page:"$'\n'"$messages"
        [[ -z $messages ]] || fail "mandoc -T lint on $page:"$'\n'"$messages"
        pass "mandoc -T lint: clean"
    fi
}

echo "== build ($build, Release)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >"$scratch/configure.log" 2>&1 ||
    { cat "$scratch/configure.log" >&2; fail "cmake configure"; }
cmake --build "$build" -j2 >"$scratch/build.log" 2>&1 ||
    { cat "$scratch/build.log" >&2; fail "cmake --build"; }
pass "configured and built"

echo "== cmake --install into a temporary prefix"
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install"
[[ -x $prefix/bin/lyric2sysex ]] || fail "no executable $prefix/bin/lyric2sysex"
shopt -s nullglob
pages=("$prefix"/share/man/man1/lyric2sysex.1*)
shopt -u nullglob
[[ ${#pages[@]} == 1 ]] || fail "expected one manual page in $prefix/share/man/man1, found ${#pages[@]}"
page=${pages[0]}
[[ -f $prefix/share/doc/lyric2sysex/copyright ]] || fail "no licence in share/doc/lyric2sysex"
pass "installed bin/lyric2sysex, ${page#"$prefix"/}, share/doc/lyric2sysex/copyright"
version_line=$("$prefix/bin/lyric2sysex" --version) || fail "--version exited non-zero"
version=${version_line#lyric2sysex }
[[ $version_line == "lyric2sysex $version" && $version =~ ^[0-9]+(\.[0-9]+)*$ ]] ||
    fail "--version prints '$version_line', not 'lyric2sysex <version>'"
zcat -f "$page" | grep -q "^\.TH .*\"lyric2sysex $version\"" ||
    fail "the manual page does not carry version $version"
pass "--version and the manual page agree on version $version"
check_conversion "$prefix/bin/lyric2sysex" "installed by cmake"

echo "== manual page lint"
lint_page "$page"

echo "== Debian package"
rm -f "$build"/lyric2sysex_*.deb
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$build" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; fail "cpack -G DEB"; }
shopt -s nullglob
debs=("$build"/lyric2sysex_*.deb)
shopt -u nullglob
[[ ${#debs[@]} == 1 ]] || fail "expected one .deb in $build, found ${#debs[@]}"
deb=${debs[0]}
[[ $(dpkg-deb -f "$deb" Package) == lyric2sysex ]] || fail "package name is not lyric2sysex"
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] ||
    fail "package version $(dpkg-deb -f "$deb" Version) is not $version"
[[ $(dpkg-deb -f "$deb" Section) == sound ]] || fail "package section is not sound"
dpkg-deb -f "$deb" Depends | grep -q libc6 || fail "package does not depend on libc6"
contents=$(dpkg-deb -c "$deb")
for file in ./usr/bin/lyric2sysex ./usr/share/man/man1/lyric2sysex.1.gz \
    ./usr/share/doc/lyric2sysex/copyright; do
    grep -q " $file\$" <<<"$contents" || fail "$deb lacks $file"
done
pass "built $deb: $(dpkg-deb -f "$deb" Package) $version, section sound," \
    "depends $(dpkg-deb -f "$deb" Depends)"

installed_package=1
dpkg -i "$deb" >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log" >&2; fail "dpkg -i"; }
pass "dpkg -i"
[[ $(lyric2sysex --version) == "lyric2sysex $version" ]] ||
    fail "installed lyric2sysex --version prints '$(lyric2sysex --version)'"
[[ $(command -v lyric2sysex) == /usr/bin/lyric2sysex ]] ||
    fail "lyric2sysex on PATH is $(command -v lyric2sysex), not the package's /usr/bin/lyric2sysex"
pass "lyric2sysex --version: lyric2sysex $version"
check_conversion /usr/bin/lyric2sysex "installed by dpkg"

[[ $(man -w lyric2sysex) == /usr/share/man/man1/lyric2sysex.1.gz ]] ||
    fail "man -w lyric2sysex finds '$(man -w lyric2sysex 2>&1)'"
# Piped, man leaves out the bold and underline overstrikes.
rendered=$(MANWIDTH=80 MANPAGER=cat man --warnings -l /usr/share/man/man1/lyric2sysex.1.gz \
    2>"$scratch/man.err") || fail "man -l failed: $(cat "$scratch/man.err")"
[[ ! -s $scratch/man.err ]] || fail "man -l warns:"$'\n'"$(cat "$scratch/man.err")"
for heading in NAME SYNOPSIS DESCRIPTION COMMANDS OUTPUT "EXIT STATUS" DIAGNOSTICS FILES \
    EXAMPLES BUGS; do
    grep -qx "$heading" <<<"$rendered" || fail "the rendered page has no $heading section"
done
pass "man -l renders the installed page without warnings, all sections present"

dpkg -r lyric2sysex >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log" >&2; fail "dpkg -r"; }
installed_package=0
for file in /usr/bin/lyric2sysex /usr/share/man/man1/lyric2sysex.1.gz /usr/share/doc/lyric2sysex; do
    [[ ! -e $file ]] || fail "$file is still there after dpkg -r"
done
if dpkg-query -W -f='${db:Status-Status}' lyric2sysex 2>/dev/null | grep -qx installed; then
    fail "dpkg still lists lyric2sysex as installed"
fi
pass "dpkg -r removed the binary, the manual page and the documentation"

echo "package test passed"
