#!/usr/bin/env bash
# Draws every window and state of Orvane on the throw-away desktop and writes the pictures to
# docs/screenshots/. BUILD_DIR picks an existing build directory instead of build-shots/.
#
#   scripts/screenshots.sh [output directory]
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
out="$(realpath -m "${1:-docs/screenshots}")"
build="${BUILD_DIR:-build-shots}"

if [[ ! -f "$build/build.ninja" ]]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_BENCH=OFF
fi
cmake --build "$build" --target orvane_screenshots

tool="$(realpath "$build/tests/linux/orvane_screenshots")"
mkdir -p "$out"
# A compositor blends the translucent gaze dot as on a desktop with effects; the leak checker of
# a sanitizer build has nothing to say about a tool that exits straight away.
ASAN_OPTIONS=detect_leaks=0 "$root/scripts/test-desktop.sh" bash -c '
    if command -v xcompmgr >/dev/null; then xcompmgr >/dev/null 2>&1 & fi
    exec "$0" "$1"' "$tool" "$out"
