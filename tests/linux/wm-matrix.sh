#!/usr/bin/env bash
# `orvane` on the throw-away desktop under the window manager it was started with
# (ORVANE_DESKTOP_WM), a recorded head turn as its camera, moving focus back and forth:
#  - between an xterm on the left monitor and a GTK window on the right one;
#  - between the two windows of one Qt program, one on each side.
# Each pair must see focus go left, right, left, right (in the X server's _NET_ACTIVE_WINDOW).
# It prints how long each switch took from its start in orvane to the window manager naming
# the window active, median and maximum, and orvane's share of a core while tracking after.
#
#   scripts/test-desktop.sh wm-matrix.sh ORVANE HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL WATCH_TOOL
set -uo pipefail

if [[ $# -ne 4 || -z "${ORVANE_TEST_DESKTOP:-}" ]]; then
    echo "usage: scripts/test-desktop.sh $0 ORVANE HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL WATCH_TOOL" >&2
    exit 2
fi
orvane="$1"
make_clip="$2"
calibrate="$3"
watch_tool="$4"
clients="$(dirname "${BASH_SOURCE[0]}")/clients"
wm="${ORVANE_DESKTOP_WM:-openbox}"

# The face model loads with the first frame, slowly under the sanitizers; after that each pair
# needs two turns of the clip (four seconds each).
first_pair_seconds=90
pair_seconds=45
stop_seconds=15

# shellcheck source=script-support.sh
source "$(dirname "${BASH_SOURCE[0]}")/script-support.sh"

# --- Watching the active window -----------------------------------------------------------
# One line per change, "MONOTONIC_SECONDS WINDOW"; each wait below reads it.
changes="$HOME/active-window.log"
"$watch_tool" >"$changes" 2>&1 &
poll 10 test -s "$changes" || {
    echo "FAIL: the active-window watcher did not start" >&2
    exit 1
}

# The windows that became active after line $1 of the watcher's output, repeats dropped.
activated_since() {
    tail -n "+$(($1 + 1))" "$changes" | awk '$2 != last { print $2; last = $2 }'
}

# Focus went $2, $3, $2, $3 after line $1 (other windows in between are ignored).
alternated() {
    local from="$1" left="$2" right="$3"
    activated_since "$from" | awk -v l="$left" -v r="$right" '$1 == l || $1 == r {
        if ($1 != last) { seen = seen " " $1; last = $1 } }
        END { exit index(seen " ", " " l " " r " " l " " r " ") == 0 }'
}

lines_so_far() {
    wc -l <"$changes"
}

# --- The pair of windows, their monitors' names, the clip and calibration -------------------
xterm -title matrix-xterm -geometry 80x24+200+200 >/dev/null 2>&1 &
xterm_window=$(window_on matrix-xterm LEFT 200 200) || {
    echo "FAIL ($wm): the xterm did not appear on LEFT" >&2
    exit 1
}
/usr/bin/python3 "$clients/gtk-window-at.py" matrix-gtk 2800 200 >/dev/null 2>&1 &
gtk_window=$(window_on matrix-gtk RIGHT 2800 200) || {
    echo "FAIL ($wm): the GTK window did not appear on RIGHT" >&2
    exit 1
}

left_name=$(monitor_name 0)
right_name=$(monitor_name 2560)
if [[ -z "$left_name" || -z "$right_name" ]]; then
    echo "FAIL ($wm): orvane --diagnose did not list the left and right monitors" >&2
    exit 1
fi

clip="$HOME/head-turn.avi"
"$make_clip" "$clip" 60 15 || exit 1
"$calibrate" || exit 1

# --- Switch times ---------------------------------------------------------------------------
# For each switch orvane logged after line $1 of its log, the time from its start to the first
# change of the active window after line $2 of the watcher's output, within a second (a window
# that was active already makes no change and is not counted), in milliseconds, one a line.
switch_times() {
    {
        tr -d '\r' <"$log" | tail -n "+$(($1 + 1))" |
            awk '/^.* focus switch to .* started at [0-9.]+ s$/ { print "s", $(NF - 1) }'
        tail -n "+$(($2 + 1))" "$changes" | awk '{ print "c", $1 }'
    } | sort -k2,2n | awk '
        $1 == "s" { start = $2; pending = 1; next }
        $1 == "c" && pending && $2 - start < 1 { printf "%.1f\n", ($2 - start) * 1000 }
        $1 == "c" { pending = 0 }'
}

# Prints the median and the maximum of the switch times since log line $2, watcher line $3.
report_times() {
    local what="$1" times
    times=$(switch_times "$2" "$3" | sort -n)
    if [[ -z $times ]]; then
        echo "$wm, $what: no switch was timed"
        return
    fi
    echo "$times" | awk -v label="$wm, $what" '{ v[NR] = $1 } END {
        median = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "%s: start of switch to window active, median %.1f ms, max %.1f ms, %d switches\n",
            label, median, v[NR], NR }'
}

lines_of_log() {
    tr -d '\r' <"$log" | wc -l
}

# --- xterm on the left, GTK on the right ------------------------------------------------------
from=$(lines_so_far)
start_orvane "$clip" "$HOME/orvane.log" || fail "orvane did not start"
started=$SECONDS
first_pair() { alternated "$from" "$xterm_window" "$gtk_window" || ! orvane_alive; }
poll "$first_pair_seconds" first_pair 2>/dev/null
if alternated "$from" "$xterm_window" "$gtk_window"; then
    echo "$wm, xterm and GTK: focus went left, right, left, right in $((SECONDS - started)) s"
else
    fail "$wm, xterm and GTK: focus did not go left, right, left, right;" \
        "it went to: $(activated_since "$from" | tr '\n' ' ')"
fi
report_times "xterm and GTK" 0 "$from"

# --- The two windows of one Qt program ------------------------------------------------------
kill "$(xdotool getwindowpid "$gtk_window")" 2>/dev/null
xdotool windowkill "$xterm_window" 2>/dev/null
/usr/bin/python3 "$clients/qt-two-windows.py" matrix-qt 200 2800 200 >/dev/null 2>&1 &
qt_left=$(window_on matrix-qt-left LEFT 200 200) || fail "$wm: the Qt window did not appear on LEFT"
qt_right=$(window_on matrix-qt-right RIGHT 2800 200) ||
    fail "$wm: the Qt window did not appear on RIGHT"
if [[ -n $qt_left && -n $qt_right ]]; then
    qt_from=$(lines_so_far)
    qt_log_from=$(lines_of_log)
    started=$SECONDS
    qt_pair() { alternated "$qt_from" "$qt_left" "$qt_right" || ! orvane_alive; }
    poll "$pair_seconds" qt_pair 2>/dev/null
    if alternated "$qt_from" "$qt_left" "$qt_right"; then
        echo "$wm, Qt: focus went left, right, left, right in $((SECONDS - started)) s"
    else
        fail "$wm, Qt: focus did not go left, right, left, right between its two windows;" \
            "it went to: $(activated_since "$qt_from" | tr '\n' ' ')"
    fi
    report_times "Qt" "$qt_log_from" "$qt_from"
fi

# What tracking costs under this window manager, to compare with the others on the same clip.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null; }
if before=$(cpu_ticks "$orvane_pid") && [[ -n $before ]]; then
    measure_from=$(date +%s.%N)
    poll 10 false
    after=$(cpu_ticks "$orvane_pid")
    awk -v b="$before" -v a="$after" -v t0="$measure_from" -v t1="$(date +%s.%N)" \
        -v hz="$(getconf CLK_TCK)" -v wm="$wm" \
        'BEGIN { printf "%s: while tracking, orvane used %.1f%% of a core\n", wm, 100 * (a - b) / hz / (t1 - t0) }'
fi

stop_orvane "$wm"

if [[ $failures -gt 0 ]]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "every check passed"
