#!/usr/bin/env bash
# Orvane at work without a display or a webcam of your own: a throw-away desktop with two
# monitors (Xvfb and openbox) and a terminal window on each, a recorded clip of a head turning
# right and left as the camera, and Orvane moving keyboard focus to the window the head turns
# toward. Every second it prints where the head points, where the gaze lands and which window
# has focus; it saves pictures of the whole desktop as focus moves, and ends by itself,
# leaving nothing running.
#
#   demo/run-demo.sh BUILD_DIR [SCREENSHOT_DIR]
#
# BUILD_DIR is a build of this tree (scripts/build.sh makes build/); the screenshots go to
# SCREENSHOT_DIR, by default BUILD_DIR/demo/screenshots. ORVANE_DEMO_SECONDS is how long
# Orvane runs (default 40); with ORVANE_DEMO_UNTIL_SHOWN=1 it ends as soon as focus has reached
# both windows (for tests). The status is 0 when focus reached both windows.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

if [[ -z "${ORVANE_TEST_DESKTOP:-}" ]]; then
    if [[ $# -lt 1 || $# -gt 2 ]]; then
        echo "usage: $0 BUILD_DIR [SCREENSHOT_DIR]" >&2
        exit 2
    fi
    build="$(realpath "$1")"
    shots="$(realpath -m "${2:-$build/demo/screenshots}")"
    for file in src/orvane demo/orvane_calibrate_for_clip demo/orvane_desktop_shot \
        demo/head-turn.avi; do
        if [[ ! -e "$build/$file" ]]; then
            echo "The demonstration needs $build/$file: build first (scripts/build.sh)." >&2
            exit 1
        fi
    done
    for tool in Xvfb openbox xterm xrandr xprop xsetroot xdotool dbus-daemon; do
        if ! command -v "$tool" >/dev/null; then
            echo "The demonstration needs $tool: run scripts/install-deps.sh first." >&2
            exit 1
        fi
    done
    mkdir -p "$shots" || exit 1
    rm -f "$shots"/desktop-*.png "$shots"/*.log
    ORVANE_DESKTOP_MONITORS=2 exec "$here/../scripts/test-desktop.sh" "$BASH" "$0" "$build" \
        "$shots"
fi

# --- On the throw-away desktop ----------------------------------------------------------
build="$1"
shots="$2"
seconds="${ORVANE_DEMO_SECONDS:-40}"
clip="$build/demo/head-turn.avi"
log="$shots/orvane.log"
most_shots=8

say() { printf '%s\n' "$*"; }

# Bounded polling, shared with the shell tests.
# shellcheck source=../tests/linux/script-support.sh
source "$here/../tests/linux/script-support.sh"

active_window() {
    xprop -root -notype _NET_ACTIVE_WINDOW 2>/dev/null | awk '{print $NF}'
}

# Opens a terminal titled $1 at $2 that shows the lines that follow, and prints its window id.
open_window() {
    local title="$1" geometry="$2"
    shift 2
    xterm -title "$title" -geometry "$geometry" -fa Monospace -fs 13 -bg '#fdf6e3' -fg '#073642' \
        -hold -e printf '%s\n' "$@" >/dev/null 2>&1 &
    local window=""
    found() {
        window=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n1)
        [[ -n $window ]]
    }
    poll 20 found || return 1
    printf '0x%x\n' "$window"
}

shot_count=0
shoot() {
    ((shot_count >= most_shots)) && return
    shot_count=$((shot_count + 1))
    local file
    file="$shots/desktop-$shot_count-$1.png"
    if "$build/demo/orvane_desktop_shot" "$file"; then
        say "         ↳ screenshot $file"
    fi
}

say "Orvane demonstration: a desktop of two monitors, LEFT and RIGHT, 1280x1080 each, with a"
say "terminal window on each. The camera is a recorded clip of a head turning to the right, then"
say "to the left, every six seconds. Orvane runs for $seconds seconds."
say ""

left_title="LEFT window"
right_title="RIGHT window"
explain=("Orvane gives this window keyboard focus"
    "when the head turns toward it."
    ""
    "Its title bar lights up while it has focus;"
    "the small dot is where Orvane thinks the user looks.")
xsetroot -solid '#4c566a'
left_window=$(open_window "$left_title" 56x10+260+380 "This window is on the LEFT monitor." "" \
    "${explain[@]}") || {
    say "The left window did not open." >&2
    exit 1
}
right_window=$(open_window "$right_title" 56x10+1540+380 "This window is on the RIGHT monitor." \
    "" "${explain[@]}") || {
    say "The right window did not open." >&2
    exit 1
}

# The face in the clip is tilted down by about 11 degrees as the detector sees it: that is
# where the calibration puts the middle of the monitors' height.
"$build/demo/orvane_calibrate_for_clip" --pitch -11 --camera "$clip" --gaze-dot \
    >"$shots/calibration.log" 2>&1 || {
    say "Could not store a calibration for the demonstration:" >&2
    cat "$shots/calibration.log" >&2
    exit 1
}
say "A calibration for these monitors is stored; the gaze dot is on."

# Orvane prints its report on standard output; its log goes to a file.
ORVANE_CAMERA_FILES="$clip" "$build/src/orvane" --report-gaze 2>"$log" &
orvane_pid=$!
say "Orvane started (its log: $log). The head's yaw is positive to the user's right;"
say "the gaze is a point of the desktop, LEFT from x 0, RIGHT from x 1280."
say ""

shoot start
seen_left=0
seen_right=0
last_active=$(active_window)
deadline=$((SECONDS + seconds))
while [[ $SECONDS -lt $deadline ]] && kill -0 "$orvane_pid" 2>/dev/null; do
    active=$(active_window)
    if [[ -n $active && $active != "$last_active" ]]; then
        last_active=$active
        if [[ $active == "$left_window" ]]; then
            seen_left=1
            say "    focus → the LEFT window"
            shoot focus-left
        elif [[ $active == "$right_window" ]]; then
            seen_right=1
            say "    focus → the RIGHT window"
            shoot focus-right
        fi
    fi
    if [[ -n ${ORVANE_DEMO_UNTIL_SHOWN:-} && $seen_left -eq 1 && $seen_right -eq 1 ]]; then
        break
    fi
    sleep 0.1
done

if kill -0 "$orvane_pid" 2>/dev/null; then
    shoot end
    kill -TERM "$orvane_pid"
    poll 15 eval '! kill -0 "$orvane_pid" 2>/dev/null'
    wait "$orvane_pid"
    status=$?
else
    wait "$orvane_pid"
    status=$?
    say "Orvane ended early, with status $status: see $log." >&2
    status=1
fi

say ""
say "Focus reached the LEFT window: $([[ $seen_left -eq 1 ]] && echo yes || echo no)," \
    "the RIGHT window: $([[ $seen_right -eq 1 ]] && echo yes || echo no)."
say "$shot_count screenshots of the whole desktop are in $shots."
[[ $status -eq 0 && $seen_left -eq 1 && $seen_right -eq 1 ]]
