#!/usr/bin/env bash
# `orvane` end to end on the throw-away desktop (run through scripts/test-desktop.sh), with
# recorded pictures as its camera:
#  - a clip of a face turning right and left moves keyboard focus to a window on the left
#    monitor and to one on the right monitor;
#  - when the accessibility bus ends and the session starts another, orvane hands over to a
#    fresh copy of itself, which moves focus again;
#  - a picture with no face in it moves nothing;
# and each run ends on SIGTERM, promptly, with status 0 and "Orvane stopped" logged.
#
#   engine-clip.sh ORVANE HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL FACELESS_PICTURE
#
# Every wait polls what orvane or the X server shows, within a bound.
set -uo pipefail

if [[ $# -ne 4 || -z "${ORVANE_TEST_DESKTOP:-}" ]]; then
    echo "usage: scripts/test-desktop.sh $0 ORVANE HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL" \
        "FACELESS_PICTURE" >&2
    exit 2
fi
orvane="$1"
make_clip="$2"
calibrate="$3"
faceless="$4"

# How long orvane may take to switch focus to both windows (the face model loads first, slowly
# under the sanitizers), and to stop once told to.
focus_seconds=90
stop_seconds=15

# shellcheck source=script-support.sh
source "$(dirname "${BASH_SOURCE[0]}")/script-support.sh"

# --- The windows to focus, one on the left and one on the right monitor -----------------
open_side_windows
[[ $(monitor_of "$left_window") == LEFT ]] || fail "the left window is not on LEFT"
[[ $(monitor_of "$right_window") == RIGHT ]] || fail "the right window is not on RIGHT"

left_name=$(monitor_name 0)
right_name=$(monitor_name 2560)
if [[ -z "$left_name" || -z "$right_name" ]]; then
    echo "FAIL: orvane --diagnose did not list the left and right monitors" >&2
    exit 1
fi

# --- Camera clip and calibration --------------------------------------------------------
clip="$HOME/head-turn.avi"
"$make_clip" "$clip" 90 15 || exit 1
"$calibrate" || exit 1

# --- A face turning right and left ------------------------------------------------------
# A window counts once it became the active one while orvane ran (the last one opened is
# active from the start).
seen_left=0
seen_right=0
last_active=$(active_window)
started=$SECONDS
start_orvane "$clip" "$HOME/head-turn.log" || fail "orvane did not start"
both_focused() {
    local active
    active=$(active_window)
    if [[ $active != "$last_active" ]]; then
        [[ $active == "$left_window" ]] && seen_left=1
        [[ $active == "$right_window" ]] && seen_right=1
        last_active=$active
    fi
    kill -0 "$orvane_pid" 2>/dev/null || return 0 # gone: nothing more to wait for
    [[ $seen_left -eq 1 && $seen_right -eq 1 ]] && focused_on "$left_name" &&
        focused_on "$right_name"
}
if poll "$focus_seconds" both_focused && [[ $seen_left -eq 1 && $seen_right -eq 1 ]]; then
    echo "head turn: focus moved both ways $((SECONDS - started)) s after the start"
fi
logged 'pipeline started' || fail "head turn: the pipeline did not start"
focused_on "$left_name" || fail "head turn: no focus switch to $left_name was logged"
focused_on "$right_name" || fail "head turn: no focus switch to $right_name was logged"
[[ $seen_left -eq 1 ]] || fail "head turn: the left window never became the active window"
[[ $seen_right -eq 1 ]] || fail "head turn: the right window never became the active window"
took=$((SECONDS - started))
# What tracking costs, to compare with other desktops on the same clip.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null; }
if before=$(cpu_ticks "$orvane_pid") && [[ -n $before ]]; then
    measure_from=$(date +%s.%N)
    poll 10 false
    after=$(cpu_ticks "$orvane_pid")
    awk -v b="$before" -v a="$after" -v t0="$measure_from" -v t1="$(date +%s.%N)" \
        -v hz="$(getconf CLK_TCK)" \
        'BEGIN { printf "X11: while tracking, orvane used %.1f%% of a core\n", 100 * (a - b) / hz / (t1 - t0) }'
fi

# --- The accessibility bus ends under orvane -----------------------------------------------
# libatspi cannot follow the session to a new bus: once the session has started one, orvane
# hands over to a fresh copy of itself, which focuses windows again. The copy's own terminal is
# gone with the first one's, so it is watched through the X server.
bus_launcher() {
    gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.GetConnectionUnixProcessID org.a11y.Bus 2>/dev/null |
        sed -n 's/^(uint32 \([0-9]*\),)$/\1/p'
}
launcher=$(bus_launcher)
if [[ -z $launcher ]]; then
    fail "accessibility bus: no launcher found"
    stop_orvane "head turn"
else
    # Its bus daemon; the launcher ends with it.
    pkill -KILL -P "$launcher"
    first_pid=$orvane_pid
    first_gone() { ! kill -0 "$first_pid" 2>/dev/null; }
    poll 30 eval 'logged "the accessibility bus is back: restarting" || first_gone'
    logged "the accessibility bus went away" || fail "accessibility bus: its end was not logged"
    logged "the accessibility bus is back: restarting" ||
        fail "accessibility bus: the new bus was not logged"
    poll "$stop_seconds" first_gone || fail "accessibility bus: orvane did not hand over"
    ended_well "head turn, then the accessibility bus ended"
    orvane_pid=""
    poll 10 eval 'orvane_pid=$(pgrep -f -- "--after $first_pid\$" | head -n1); [[ -n $orvane_pid ]]'
    if [[ -z $orvane_pid ]]; then
        fail "accessibility bus: no new orvane started"
    else
        seen_left=0
        seen_right=0
        last_active=$(active_window)
        started=$SECONDS
        both_active() {
            local active
            active=$(active_window)
            [[ $active == "$left_window" && $last_active != "$active" ]] && seen_left=1
            [[ $active == "$right_window" && $last_active != "$active" ]] && seen_right=1
            last_active=$active
            [[ $seen_left -eq 1 && $seen_right -eq 1 ]] || ! kill -0 "$orvane_pid" 2>/dev/null
        }
        poll "$focus_seconds" both_active
        [[ $seen_left -eq 1 && $seen_right -eq 1 ]] &&
            echo "accessibility bus: the new orvane moved focus both ways in $((SECONDS - started)) s"
        [[ $seen_left -eq 1 ]] || fail "accessibility bus: the new orvane never focused the left window"
        [[ $seen_right -eq 1 ]] || fail "accessibility bus: the new orvane never focused the right window"
        kill -TERM "$orvane_pid" 2>/dev/null || fail "accessibility bus: the new orvane ended by itself"
        poll "$stop_seconds" eval '! kill -0 "$orvane_pid" 2>/dev/null' ||
            fail "accessibility bus: the new orvane did not end on SIGTERM"
    fi
fi

# --- No face ------------------------------------------------------------------------------
# Watched for as long as the face took to move focus both ways, and 5 s at least after the
# pipeline started; a focus switch ends the watch at once.
active_before=$(active_window)
started=$SECONDS
start_orvane "$faceless" "$HOME/faceless.log" || fail "orvane did not start"
if poll 30 logged 'pipeline started'; then
    watch_seconds=$((took - (SECONDS - started)))
    watch_seconds=$((watch_seconds > 5 ? watch_seconds : 5))
    poll "$watch_seconds" eval 'logged "focused " || ! kill -0 "$orvane_pid" 2>/dev/null'
    logged 'focused ' && fail "no face: focus was switched"
    [[ $(active_window) == "$active_before" ]] || fail "no face: the active window changed"
    logged 'status: no face' || fail "no face: the status never said so"
    logged 'status: tracking' && fail "no face: the status claimed tracking"
else
    fail "no face: the pipeline did not start"
fi
stop_orvane "no face"

if [[ $failures -gt 0 ]]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "every check passed"
