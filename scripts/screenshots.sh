#!/usr/bin/env bash
# Draws every window and state of Orvane on the throw-away desktop and writes the pictures to
# docs/screenshots/. BUILD_DIR picks an existing build directory instead of build-shots/.
# With --gnome: Orvane itself on a headless GNOME Shell on Wayland, pictured by the shell
# (docs/screenshots/gnome-*.png).
#
#   scripts/screenshots.sh [--gnome] [output directory]
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
gnome=false
if [[ "${1:-}" == "--gnome" ]]; then
    gnome=true
    shift
fi
out="$(realpath -m "${1:-docs/screenshots}")"
build="${BUILD_DIR:-build-shots}"

if [[ ! -f "$build/build.ninja" ]]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_BENCH=OFF
fi
mkdir -p "$out"

if $gnome; then
    cmake --build "$build" --target orvane orvane_head_turn_clip orvane_calibrate_for_clip \
        orvane_gnome_watched_bridge
    build="$(realpath "$build")"
    # The bridge's copy that lets the script (Python) read its windows beside orvane.
    ASAN_OPTIONS=detect_leaks=0 \
        ORVANE_GNOME_EXTENSIONS="$build/tests/linux/gnome-watched-bridge/bridge@orvane.net:$root/tests/linux/gnome/test-input@orvane.net" \
        "$root/scripts/gnome-desktop.sh" /usr/bin/python3 "$root/tests/linux/gnome/screenshots.py" \
        "$build/src/orvane" "$build/demo/orvane_head_turn_clip" \
        "$build/demo/orvane_calibrate_for_clip" "$out"
    exit
fi

cmake --build "$build" --target orvane_screenshots
tool="$(realpath "$build/tests/linux/orvane_screenshots")"
# A compositor blends the translucent gaze dot as on a desktop with effects; the leak checker of
# a sanitizer build has nothing to say about a tool that exits straight away.
ASAN_OPTIONS=detect_leaks=0 "$root/scripts/test-desktop.sh" bash -c '
    if command -v xcompmgr >/dev/null; then xcompmgr >/dev/null 2>&1 & fi
    exec "$0" "$1"' "$tool" "$out"
