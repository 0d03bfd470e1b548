#!/bin/sh
# Builds the browser player and runs its tests: the WebAssembly decoders against the
# native ones under node, then the page and the self-contained page in headless chromium.
#   web/tests/run.sh [WEB_BUILD_DIR [NATIVE_BUILD_DIR]]
# WEB_BUILD_DIR (default build/web) gets the emscripten tree, NATIVE_BUILD_DIR/web-fixtures the
# native helper; NATIVE_BUILD_DIR (default build/native) is a native tree of the whole
# project, where clipnote-decode and clipnote-encode are built if they are not there yet.
set -eu
cd "$(dirname "$0")/../.."
web=${1:-build/web}
native=${2:-build/native}
jobs=${CLIPNOTE_JOBS:-1}
export NODE_PATH=/usr/share/nodejs

[ -f "$web/build.ninja" ] || emcmake cmake -S web -B "$web" -G Ninja > /dev/null
nice -n 10 cmake --build "$web" -j"$jobs"
[ -f "$native/web-fixtures/build.ninja" ] || cmake -S web -B "$native/web-fixtures" -G Ninja > /dev/null
nice -n 10 cmake --build "$native/web-fixtures" -j"$jobs" --target web-fixtures
[ -f "$native/build.ninja" ] || cmake -S . -B "$native" -G Ninja > /dev/null
nice -n 10 cmake --build "$native" -j"$jobs" --target clipnote-decode clipnote-encode

export CLIPNOTE_WEB_SITE="$web/site"
export CLIPNOTE_DECODE="$native/tools/clipnote-decode/clipnote-decode"
export CLIPNOTE_WEB_FIXTURES="$native/web-fixtures/web-fixtures"
export CLIPNOTE_ENCODE="$native/tools/clipnote-encode/clipnote-encode"
node web/tests/node_identity_test.js "$web/site/clipnote_wasm.js" "$CLIPNOTE_DECODE" \
  "$native/tools/clipnote-encode/clipnote-encode"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$CLIPNOTE_WEB_FIXTURES" exe resources/message.263 resources/message.723 "$scratch/message.exe"
node web/tests/node_hostile_test.js "$web/site/clipnote_wasm.js" "$scratch/message.exe"
node web/tests/node_recorder_test.js "$web/site/clipnote_wasm.js" resources/clipnote_template.exe
# Debian's python: the one that sees python3-selenium.
/usr/bin/python3 web/tests/page_test.py
/usr/bin/python3 web/tests/recorder_test.py
