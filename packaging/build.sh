#!/usr/bin/env bash
# Builds what a musician downloads into dist/: on Linux the page in one file (lyric2sysex.html),
# the Debian package and the Windows ZIP; on macOS the macOS archive, around a page built on Linux
# (PAGE=path/to/lyric2sysex.html). The hosted workflow and .ci/run both run it.
#   packaging/build.sh
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p dist
quietly() { "$@" >build-packaging.log 2>&1 || { cat build-packaging.log; exit 1; }; }
# package BUILD GENERATOR EXTENSION [cmake arguments...]
package() {
    local build=$1 generator=$2 extension=$3
    shift 3
    quietly cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DLYRIC2SYSEX_PAGE="$PWD/dist/lyric2sysex.html" "$@"
    quietly cmake --build "$build" -j2
    rm -f "$build"/lyric2sysex*."$extension"
    (cd "$build" && quietly cpack -G "$generator")
    cp "$build"/lyric2sysex*."$extension" dist/
}
if [[ $(uname) == Darwin ]]; then
    cp "${PAGE:?the page, built on Linux}" dist/lyric2sysex.html
    package build-macos TGZ tar.gz
else
    quietly npm ci --prefix web --no-audit --no-fund
    # emscripten's own tools load their node modules from there.
    export NODE_PATH=/usr/share/nodejs
    quietly emcmake cmake -S . -B build-wasm -DBUILD_TESTING=OFF
    quietly cmake --build build-wasm -j2
    cp build-wasm/lyric2sysex.html dist/
    package build-deb DEB deb -DCMAKE_INSTALL_PREFIX=/usr
    package build-win-package ZIP zip -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
fi
ls -l dist/
