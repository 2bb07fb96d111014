#!/usr/bin/env bash
# `orvane` on the throw-away desktop (scripts/test-desktop.sh), a recorded head turn as its
# camera, with a browser as people run it on the left monitor and a GTK window on the right:
# while the page's password field has focus, orvane says "secure input" and focus stays; once
# its user-name field has focus, focus follows the head away from the browser. For
# Chromium, then Firefox ESR, on one desktop and one orvane. The desktop switched the
# accessibility bus on before anything started, as a user's session does once Orvane's set-up
# has; neither browser is given a flag or variable that turns accessibility on.
# Also: a Chromium started while the bus was off is named by `orvane --diagnose` as one to
# restart.
#
#   scripts/test-desktop.sh browser-passwords.sh ORVANE HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL \
#       WATCH_TOOL
set -uo pipefail

if [[ $# -ne 4 || -z "${ORVANE_TEST_DESKTOP:-}" ]]; then
    echo "usage: scripts/test-desktop.sh $0 ORVANE HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL WATCH_TOOL" >&2
    exit 2
fi
orvane="$1"
make_clip="$2"
calibrate="$3"
watch_tool="$4"
clients="$(cd "$(dirname "${BASH_SOURCE[0]}")/clients" && pwd)"
page="file://$clients/password-page.html"

# The face model loads with the first frame, slowly under the sanitizers. Two turns of the
# clip (four seconds each) make a hold: a switch not held would happen within them.
first_leave_seconds=180
leave_seconds=60
hold_seconds=10
stop_seconds=15

# shellcheck source=script-support.sh
source "$(dirname "${BASH_SOURCE[0]}")/script-support.sh"

# --- The active window, as the X server names it --------------------------------------------
changes="$HOME/active-window.log"
"$watch_tool" >"$changes" 2>&1 &
poll 10 test -s "$changes" || {
    echo "FAIL: the active-window watcher did not start" >&2
    exit 1
}
lines_so_far() { wc -l <"$changes"; }
log_lines() { tr -d '\r' <"$log" | wc -l; }
logged_since() { tr -d '\r' <"$log" | tail -n "+$(($1 + 1))" | grep -q -E "$2"; }

gtk_window=""
# Focus went from the browser $1 to the GTK window after watcher line $2.
left_for_gtk() { tail -n "+$(($2 + 1))" "$changes" | awk -v w="$gtk_window" '$2 == w { f = 1 } END { exit !f }'; }

# Focus is on window $1 now; the keys $2... go to it.
type_into() {
    local window="$1"
    shift
    xdotool windowactivate --sync "$window" >/dev/null 2>&1 || return 1
    xdotool key --clearmodifiers "$@"
}

# One browser: its window titled "password page …" on the left, the field checks.
check_browser() {
    local name="$1" seconds="$2" logged="$3" window
    window=$(poll_window "^password page") || {
        fail "$name: its window did not appear"
        return
    }
    # Within the left monitor: a browser's first window takes the whole X screen, which spans
    # all three monitors here.
    xdotool windowsize "$window" 900 600 windowmove "$window" 100 100
    poll 10 within_left "$window" || fail "$name: its window did not go within LEFT"

    # Into the password field, as the user would go (Firefox tells nobody of the field its
    # page focused on loading until focus moves in the page); that holds focus there.
    local mark
    poll 60 type_into "$window" shift+Tab Tab || fail "$name: could not focus its window"
    if ! poll "$seconds" logged_since "$logged" 'status: waiting: secure input$'; then
        fail "$name: orvane did not say \"waiting: secure input\" for its password field"
    else
        mark=$(lines_so_far)
        poll "$hold_seconds" false
        local moved
        moved=$(tail -n "+$((mark + 1))" "$changes" | awk -v w="$window" '$2 != w { print $2 }')
        if [[ -n $moved ]]; then
            fail "$name: focus moved to $moved from its password field"
        else
            echo "$name: its password field held focus for $hold_seconds s"
        fi
    fi

    # The control: the user-name field lets focus go.
    type_into "$window" shift+Tab || fail "$name: could not focus its window"
    mark=$(lines_so_far)
    if poll "$leave_seconds" left_for_gtk "$window" "$mark"; then
        echo "$name: focus left the browser from its user-name field"
    else
        fail "$name: focus stayed in the browser's user-name field for $leave_seconds s"
    fi
    kill "$(xdotool getwindowpid "$window")" 2>/dev/null
    poll 20 eval '! xdotool search --name "^password page" >/dev/null 2>&1' ||
        fail "$name: did not end"
}

within_left() {
    local width
    width=$(xdotool getwindowgeometry --shell "$1" | awk -F= '$1 == "WIDTH" { print $2 }')
    [[ $(monitor_of "$1") == LEFT && -n $width && $width -lt 1280 ]]
}

# Waits up to 90 s (a browser's first start is slow under load) for a visible window whose
# title matches $1; prints its id.
poll_window() {
    local window=""
    found() {
        window=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1)
        [[ -n $window ]]
    }
    poll 90 found "$1" || return 1
    printf '0x%x\n' "$window"
}

# --- The GTK window on the right, the clip and calibration ------------------------------------
/usr/bin/python3 "$clients/gtk-window-at.py" browsers-gtk 2800 200 >/dev/null 2>&1 &
gtk_window=$(window_on browsers-gtk RIGHT 2800 200) || {
    echo "FAIL: the GTK window did not appear on RIGHT" >&2
    exit 1
}
clip="$HOME/head-turn.avi"
"$make_clip" "$clip" 90 15 || exit 1
"$calibrate" || exit 1

# --- Chromium ------------------------------------------------------------------------------
# Chromium's own sandbox needs privileges the throw-away desktop does not give; a first-run
# dialog and a keyring prompt would stand in front of the page, as they do not for someone
# who has run it before.
chromium_flags=(--no-sandbox --no-first-run --password-store=basic
    --window-position=100,100 --window-size=900,600)
chromium "${chromium_flags[@]}" --user-data-dir="$HOME/chromium" "$page" >/dev/null 2>&1 &
start_orvane "$clip" "$HOME/orvane.log" || fail "orvane did not start"
check_browser Chromium "$first_leave_seconds" 0

# --- Firefox ESR ---------------------------------------------------------------------------
# A profile of its own, past its first-run pages as a profile in use is, and with the window
# size of one that was used (a first window is as big as the X screen, and maximized).
profile="$HOME/firefox"
mkdir -p "$profile"
cat >"$profile/xulstore.json" <<'STORE'
{"chrome://browser/content/browser.xhtml": {"main-window": {"screenX": "100", "screenY": "100",
 "width": "900", "height": "600", "sizemode": "normal"}}}
STORE
cat >"$profile/user.js" <<'PREFS'
user_pref("browser.aboutwelcome.enabled", false);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
PREFS
logged=$(log_lines)
firefox-esr --profile "$profile" --no-remote "$page" >/dev/null 2>&1 &
check_browser "Firefox ESR" "$first_leave_seconds" "$logged"

stop_orvane browsers

# --- A Chromium started while the bus was off must be restarted, and is named -------------------
set_bus() {
    gdbus call --session -d org.a11y.Bus -o /org/a11y/bus -m org.freedesktop.DBus.Properties.Set \
        org.a11y.Status IsEnabled "<$1>" >/dev/null
}
# Whether a Chromium is on the accessibility bus after all: under load its own look at the bus
# may come after its window shows, and after the bus was switched on again.
chromium_on_bus() {
    /usr/bin/python3 - <<'PY'
import sys
import gi
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi
desktop = Atspi.get_desktop(0)
names = [(desktop.get_child_at_index(i).get_name() or "").lower()
         for i in range(desktop.get_child_count())]
sys.exit(0 if any("chromium" in name for name in names) else 1)
PY
}
no_late_window() {
    [[ -z $(xdotool search --onlyvisible --name "^password page" 2>/dev/null) ]]
}
for attempt in 1 2 3; do
    set_bus false || fail "could not switch the accessibility bus off"
    chromium "${chromium_flags[@]}" --user-data-dir="$HOME/chromium-late" "$page" >/dev/null 2>&1 &
    late=$(poll_window "^password page") || {
        fail "the late Chromium's window did not appear"
        break
    }
    set_bus true || fail "could not switch the accessibility bus on again"
    diagnosis=$("$orvane" --diagnose 2>/dev/null)
    if grep -q "Restart these programs so Orvane can see their windows and password fields: .*Chromium" \
        <<<"$diagnosis"; then
        echo "a Chromium started before the bus was on: --diagnose says to restart it"
        break
    fi
    if [[ $attempt -lt 3 ]] && chromium_on_bus; then
        # Not one that must be restarted: try again with a Chromium that saw the bus off.
        echo "the late Chromium looked at the bus only once it was on again: once more"
        kill "$(xdotool getwindowpid "$late")" 2>/dev/null
        poll 30 no_late_window || fail "the late Chromium did not close"
        continue
    fi
    fail "--diagnose did not name the Chromium to restart:"$'\n'"$diagnosis"
    break
done
[[ -n ${late:-} ]] && kill "$(xdotool getwindowpid "$late")" 2>/dev/null

if [[ $failures -gt 0 ]]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "every check passed"
