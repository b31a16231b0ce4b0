#!/usr/bin/env bash
# Builds the program for the browser and the page in one file (build-wasm/lyric2sysex.html) and
# runs the browser test on it, opened from the file, against the native program
# (build/lyric2sysex or $1). Screenshots go to build-wasm/screenshots.
# Needs emscripten, chromium, unzip and the page's npm packages (npm ci --prefix web); installs
# nothing.
set -euo pipefail
cd "$(dirname "$0")/../.."
native=$(realpath "${1:-build/lyric2sysex}")
[ -x "$native" ] || { echo "web: no native program at $native to compare with"; exit 1; }
log=build-wasm/web-test.log
mkdir -p build-wasm
# emscripten's own tools load their node modules from there.
export NODE_PATH=/usr/share/nodejs
{ emcmake cmake -S . -B build-wasm -DBUILD_TESTING=OFF && cmake --build build-wasm -j2; } >"$log" 2>&1 ||
    { cat "$log"; echo "web: the build failed"; exit 1; }
echo "web: the page, lyric2sysex.html: $(gzip -9 <build-wasm/lyric2sysex.html | wc -c) bytes compressed"
node tests/web/browser_test.js build-wasm/lyric2sysex.html "$native" build-wasm/screenshots
