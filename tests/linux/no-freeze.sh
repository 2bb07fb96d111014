#!/usr/bin/env bash
# Nothing freezes orvane, on the throw-away desktop (run through scripts/test-desktop.sh), its
# camera the recorded head turn:
#  - alone with its own windows first (the accessibility bus then holds nothing but orvane,
#    whose tree only its own main thread can answer): a second start hands over and its
#    settings window opens and closes;
#  - a GTK program on the accessibility bus is stopped (SIGSTOP) in the middle monitor, where
#    the head turn passes: orvane keeps moving focus between an xterm on the left and one on
#    the right, answers its bus each time it is called (round trips printed), and a second
#    start still hands over;
# and it ends on SIGTERM with status 0.
#
#   no-freeze.sh ORVANE HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL
#
# The longest round trip of a call that its main thread answers (net.orvane.Orvane.Ping) is
# the longest that thread was busy while calls came; it is printed, not judged: a call only
# fails when it is not answered within a second, as the second start needs.
set -uo pipefail

if [[ $# -ne 3 || -z "${ORVANE_TEST_DESKTOP:-}" ]]; then
    echo "usage: scripts/test-desktop.sh $0 ORVANE HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL" >&2
    exit 2
fi
orvane="$1"
make_clip="$2"
calibrate="$3"
clients="$(dirname "${BASH_SOURCE[0]}")/clients"
# orvane (Qt) runs as in a session with a screen reader: its own tree on the accessibility bus
# through the bus's ScreenReaderEnabled switch, not the variable that forces it.
unset QT_LINUX_ACCESSIBILITY_ALWAYS_ON
gdbus call --session -d org.a11y.Bus -o /org/a11y/bus -m org.freedesktop.DBus.Properties.Set \
    org.a11y.Status ScreenReaderEnabled '<true>' >/dev/null || {
    echo "FAIL: could not switch the screen reader flag on" >&2
    exit 1
}

focus_seconds=90
stop_seconds=15
start_seconds=60

# shellcheck source=script-support.sh
source "$(dirname "${BASH_SOURCE[0]}")/script-support.sh"

# Calls Ping on orvane's bus name COUNT times, 50 ms apart; prints "answered N of COUNT, median
# M ms, longest L ms" and fails when any call went unanswered for a second.
round_trips() {
    /usr/bin/python3 - "$1" <<'PY'
import statistics, sys, time
from gi.repository import Gio, GLib

count = int(sys.argv[1])
bus = Gio.bus_get_sync(Gio.BusType.SESSION)
times, missed = [], 0
for _ in range(count):
    start = time.monotonic()
    try:
        bus.call_sync("net.orvane.Orvane", "/net/orvane/Orvane", "net.orvane.Orvane", "Ping",
                      None, None, Gio.DBusCallFlags.NONE, 1000, None)
        times.append((time.monotonic() - start) * 1000)
    except GLib.Error as error:
        missed += 1
        print(f"unanswered: {error.message}", file=sys.stderr)
    time.sleep(0.05)
if times:
    print(f"answered {len(times)} of {count}, median {statistics.median(times):.1f} ms, "
          f"longest {max(times):.1f} ms")
sys.exit(1 if missed else 0)
PY
}

second_start() {
    local what="$1" started=$SECONDS second
    "$orvane" >"$HOME/second-$what.log" 2>&1 </dev/null &
    second=$!
    if poll 20 eval '! kill -0 "$second" 2>/dev/null'; then
        wait "$second" || fail "$what: the second orvane exited with status $?"
        echo "$what: a second start ended after $((SECONDS - started)) s"
        grep -q "does not answer" "$HOME/second-$what.log" &&
            fail "$what: the second start found orvane not answering"
    else
        fail "$what: the second orvane did not end"
        kill -KILL "$second" 2>/dev/null
    fi
}

settings_window() { xdotool search --onlyvisible --name '^Orvane Settings$' 2>/dev/null | head -n1; }

# --- The windows to focus, one on the left and one on the right monitor -----------------
open_side_windows

clip="$HOME/head-turn.avi"
"$make_clip" "$clip" 90 15 || exit 1
"$calibrate" || exit 1

# --- Orvane alone on the accessibility bus, with its own windows -------------------------
start_orvane "$clip" "$HOME/orvane.log" || fail "orvane did not start"
poll "$start_seconds" logged 'pipeline started' || fail "the pipeline did not start"
round_trips 20 || fail "alone: orvane did not answer every call"
second_start alone
poll 20 eval '[[ -n $(settings_window) ]]' || fail "alone: the settings window did not open"
window=$(settings_window)
if [[ -n $window ]]; then
    xdotool windowactivate --sync "$window" >/dev/null 2>&1
    xdotool key --clearmodifiers alt+F4
    poll 10 eval '[[ -z $(settings_window) ]]' || fail "alone: the settings window did not close"
fi
round_trips 20 || fail "alone, its window closed: orvane did not answer every call"

# --- A program on the accessibility bus stops answering ----------------------------------
/usr/bin/python3 "$clients/gtk3-password-form.py" orvane-hung plain >/dev/null 2>&1 &
hung=$!
hung_window=$(window_titled orvane-hung) || fail "the program to stop did not appear"
[[ -n $hung_window ]] && xdotool windowmove "$hung_window" 1500 300
# On the accessibility bus, asked as a screen reader would.
registered() {
    /usr/bin/python3 - "$hung" <<'PY2'
import sys
import gi
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi

desktop = Atspi.get_desktop(0)
pids = [desktop.get_child_at_index(i).get_process_id() for i in range(desktop.get_child_count())]
sys.exit(0 if int(sys.argv[1]) in pids else 1)
PY2
}
poll 20 registered || fail "the program to stop is not on the accessibility bus"
xdotool windowactivate --sync "$hung_window" >/dev/null 2>&1
kill -STOP "$hung"

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
    [[ $seen_left -eq 1 && $seen_right -eq 1 ]] || ! orvane_alive
}
poll "$focus_seconds" both_active
[[ $seen_left -eq 1 && $seen_right -eq 1 ]] &&
    echo "hung program: orvane moved focus both ways in $((SECONDS - started)) s"
[[ $seen_left -eq 1 ]] || fail "hung program: orvane never focused the left window"
[[ $seen_right -eq 1 ]] || fail "hung program: orvane never focused the right window"
echo -n "hung program: "
round_trips 100 || fail "hung program: orvane did not answer every call"
second_start hung
poll 20 eval '[[ -n $(settings_window) ]]' || fail "hung program: the settings window did not open"
echo -n "hung program, settings open: "
round_trips 20 || fail "hung program, settings open: orvane did not answer every call"

kill -CONT "$hung"
kill -TERM "$hung"
stop_orvane "no freeze"

if [[ $failures -gt 0 ]]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "every check passed"
