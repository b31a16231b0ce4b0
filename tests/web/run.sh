#!/usr/bin/env bash
# Builds the program for the browser and the page (build-wasm/page), serves the page on
# 127.0.0.1 and runs the browser test against the native program (build/lyric2sysex or $1).
# Needs emscripten, chromium and the page's npm packages (npm ci --prefix web); installs nothing.
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
python3 -u -m http.server 0 --bind 127.0.0.1 --directory build-wasm/page >build-wasm/server.log 2>&1 &
server=$!
trap 'kill "$server"' EXIT
port=
for _ in $(seq 100); do
    port=$(sed -n 's/.* port \([0-9]*\) .*/\1/p' build-wasm/server.log)
    [ -n "$port" ] && break
    sleep 0.1
done
echo "page and module: $(cat build-wasm/page/* | gzip -9 | wc -c) bytes compressed"
node tests/web/browser_test.js "http://127.0.0.1:$port/" "$native" build-wasm/screenshots
