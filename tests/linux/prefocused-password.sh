#!/usr/bin/env bash
# A password entry that has focus before orvane starts holds focus from orvane's first frame,
# on the throw-away desktop (run through scripts/test-desktop.sh), its camera the recorded
# head turn. For the toolkit given (gtk: GTK 3, qt: Qt 6), a form in the middle monitor with an
# xterm on either side:
#  - control: its plain text field has focus when orvane starts; focus leaves it;
#  - its password entry has focus when orvane starts; orvane says it waits for secure input,
#    and focus stays for as long as the control took to leave, and more.
# No event tells orvane of that focus: it has to find the focused element when it starts.
#
#   prefocused-password.sh gtk|qt ORVANE HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL
set -uo pipefail

if [[ $# -ne 4 || -z "${ORVANE_TEST_DESKTOP:-}" ]]; then
    echo "usage: scripts/test-desktop.sh $0 gtk|qt ORVANE HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL" >&2
    exit 2
fi
toolkit="$1"
orvane="$2"
make_clip="$3"
calibrate="$4"
clients="$(dirname "${BASH_SOURCE[0]}")/clients"
case "$toolkit" in
gtk) form="$clients/gtk3-password-form.py" ;;
qt) form="$clients/qt-password-form.py" ;;
*)
    echo "unknown toolkit $toolkit" >&2
    exit 2
    ;;
esac
# Qt runs without the variable that forces its accessibility on: Qt 6 follows the bus's
# ScreenReaderEnabled switch, switched on as a session with a screen reader has it.
unset QT_LINUX_ACCESSIBILITY_ALWAYS_ON
gdbus call --session -d org.a11y.Bus -o /org/a11y/bus -m org.freedesktop.DBus.Properties.Set \
    org.a11y.Status ScreenReaderEnabled '<true>' >/dev/null || {
    echo "FAIL: could not switch the screen reader flag on" >&2
    exit 1
}

focus_seconds=90
stop_seconds=15

# shellcheck source=script-support.sh
source "$(dirname "${BASH_SOURCE[0]}")/script-support.sh"

open_side_windows
clip="$HOME/head-turn.avi"
"$make_clip" "$clip" 90 15 || exit 1
"$calibrate" || exit 1

# Starts the form titled $1 with $2 focused in the middle monitor, active; sets $form_pid and
# $form_window.
start_form() {
    /usr/bin/python3 "$form" "$1" "$2" >/dev/null 2>&1 &
    form_pid=$!
    form_window=$(window_on "$1" MID 1500 300) || return 1
    xdotool windowactivate --sync "$form_window" >/dev/null 2>&1
    poll 10 eval '[[ $(active_window) == "$form_window" ]]'
}

# The form's application is on the accessibility bus with its focused element: it is asked
# directly, as a screen reader would, before orvane starts.
focused_role() {
    /usr/bin/python3 - "$1" <<'PY'
import sys
import gi
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi

pid = int(sys.argv[1])
desktop = Atspi.get_desktop(0)
for i in range(desktop.get_child_count()):
    app = desktop.get_child_at_index(i)
    if not app or app.get_process_id() != pid:
        continue
    queue = [app]
    while queue:
        node = queue.pop(0)
        states = node.get_state_set()
        if states.contains(Atspi.StateType.FOCUSED) and node.get_role() != Atspi.Role.APPLICATION:
            print(node.get_role_name())
            sys.exit(0)
        queue.extend(c for c in (node.get_child_at_index(j) for j in range(node.get_child_count())) if c)
sys.exit(1)
PY
}

stop_form() {
    kill -TERM "$form_pid" 2>/dev/null
    wait "$form_pid" 2>/dev/null
}

# --- Control: a plain field has focus; orvane moves it away ------------------------------
start_form "$toolkit-plain" plain || fail "control: the form did not come up active"
poll 20 eval '[[ $(focused_role "$form_pid") == text ]]' ||
    fail "control: the plain field is not focused on the accessibility bus"
started=$SECONDS
start_orvane "$clip" "$HOME/control.log" || fail "control: orvane did not start"
left_form() { [[ $(active_window) != "$form_window" ]] || ! orvane_alive; }
if poll "$focus_seconds" left_form && orvane_alive; then
    took=$((SECONDS - started))
    echo "control: focus left the plain field $took s after orvane started"
else
    took=$focus_seconds
    fail "control: focus never left the plain field"
fi
stop_orvane "control"
stop_form

# --- A password entry has focus before orvane starts: it holds -----------------------------
start_form "$toolkit-password" password || fail "password: the form did not come up active"
poll 20 eval '[[ $(focused_role "$form_pid") == "password text" ]]' ||
    fail "password: the password entry is not focused on the accessibility bus"
started=$SECONDS
start_orvane "$clip" "$HOME/password.log" || fail "password: orvane did not start"
poll 60 logged 'pipeline started' || fail "password: the pipeline did not start"
# Longer than the control took, with room for the face model's first load.
hold_seconds=$((took + 15))
moved() { [[ $(active_window) != "$form_window" ]] || ! orvane_alive; }
if poll "$hold_seconds" moved; then
    fail "password: focus left the password entry $((SECONDS - started)) s after orvane started"
else
    echo "password: the $toolkit password entry held focus for $((SECONDS - started)) s"
fi
logged 'secure input' || fail "password: orvane never said it waits for secure input"
logged 'focused XTerm' && fail "password: orvane logged a focus switch to another window"
stop_orvane "password"
stop_form

if [[ $failures -gt 0 ]]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "every check passed"
