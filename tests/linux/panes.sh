#!/usr/bin/env bash
# `orvane` following the gaze between split panes of a real terminal, on the throw-away
# desktop: the terminal (Terminator or Konsole, or tmux in xterm or GNOME Terminal) fills the
# middle monitor with two panes side by side; a head-turn clip calibrated so that its gaze
# sweeps across that monitor only must move the keyboard focus left, right, left, right between
# the panes, as the accessibility bus (tmux: tmux itself) sees it, without orvane taking keys it
# posted itself for the user's typing.
#
#   scripts/test-desktop.sh panes.sh terminator|konsole|tmux|tmux-gnome-terminal ORVANE \
#       HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL
set -uo pipefail

if [[ $# -ne 4 || ! $1 =~ ^(terminator|konsole|tmux|tmux-gnome-terminal)$ ||
    -z "${ORVANE_TEST_DESKTOP:-}" ]]; then
    echo "usage: scripts/test-desktop.sh $0 terminator|konsole|tmux|tmux-gnome-terminal ORVANE" \
        "HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL" >&2
    exit 2
fi
program="$1"
orvane="$2"
make_clip="$3"
calibrate="$4"
clients="$(dirname "${BASH_SOURCE[0]}")/clients"

# The face model loads with the first frame, slowly under the sanitizers; then each sweep of the
# clip takes four seconds.
panes_seconds=90
stop_seconds=15

# shellcheck source=script-support.sh
source "$(dirname "${BASH_SOURCE[0]}")/script-support.sh"

# --- Which pane has focus -------------------------------------------------------------------
# One line a focus change, the terminal's role and screen rectangle; for tmux, the left column
# of each pane selected (tmux's own hook writes it).
focus_log="$HOME/focus.log"
tmux_server=(-L "orvane-panes-$$")
if [[ $program == tmux* ]]; then
    : >"$focus_log"
else
    /usr/bin/python3 "$clients/atspi-focus-watch.py" terminal >"$focus_log" 2>&1 &
    poll 20 grep -q '^watching$' "$focus_log" || {
        echo "FAIL: the accessibility watcher did not start: $(cat "$focus_log")" >&2
        exit 1
    }
fi

# The panes that gained focus after line $1 of the watcher's output, left or right of MID's
# centre, each change once.
focused_panes() {
    tail -n "+$(($1 + 1))" "$focus_log" |
        awk '$1 == "terminal" { print ($2 + $4 / 2 < 1920) ? "left" : "right" }
             $1 == "tmux" { print ($2 == 0) ? "left" : "right" }' | uniq
}
went_both_ways() {
    focused_panes "$1" | tr '\n' ' ' | grep -q 'left right left right'
}

# --- The terminal, two panes side by side filling MID ----------------------------------------
case $program in
terminator)
    mkdir -p "$XDG_CONFIG_HOME/terminator"
    cat >"$XDG_CONFIG_HOME/terminator/config" <<'CONFIG'
[global_config]
  suppress_multiple_term_dialog = True
[layouts]
  [[panes]]
    [[[window0]]]
      type = Window
      parent = ""
      position = 1280:0
      size = 1280, 1000
    [[[split]]]
      type = HPaned
      parent = window0
      ratio = 0.5
    [[[left]]]
      type = Terminal
      parent = split
    [[[right]]]
      type = Terminal
      parent = split
CONFIG
    # -u: a Terminator of its own, never one already running reached over D-Bus.
    terminator -u -l panes >"$HOME/terminal.log" 2>&1 &
    ;;
konsole)
    cat >"$HOME/layout.json" <<'LAYOUT'
{ "Orientation": "Horizontal", "Widgets": [ { "SessionRestoreId": 0 }, { "SessionRestoreId": 0 } ] }
LAYOUT
    konsole --layout "$HOME/layout.json" --geometry 1280x1000+1280+0 >"$HOME/terminal.log" 2>&1 &
    ;;
tmux | tmux-gnome-terminal)
    if [[ $program == tmux ]]; then
        # xterm's 6 x 13 cells: 213 x 76 of them fill MID.
        xterm -geometry 210x74+1280+0 -e tmux "${tmux_server[@]}" new-session \
            >"$HOME/terminal.log" 2>&1 &
    else
        # The session bus starts GNOME Terminal's server with the session's environment, as
        # an X session's start-up hands it over; the server refuses a locale that is not UTF-8.
        # Its 9 x 17 cells below a menu bar: 125 x 55 of them about fill MID.
        [[ ${LANG:-} == *.UTF-8 ]] || export LANG=C.UTF-8
        dbus-update-activation-environment --all ||
            fail "the session bus did not take the session's environment"
        gnome-terminal --geometry 125x55+1280+0 -- tmux "${tmux_server[@]}" new-session \
            >"$HOME/terminal.log" 2>&1
    fi
    poll 30 eval '[[ -n $(tmux "${tmux_server[@]}" list-clients 2>/dev/null) ]]' || {
        echo "FAIL: tmux did not start in its terminal: $(cat "$HOME/terminal.log")" >&2
        exit 1
    }
    tmux "${tmux_server[@]}" split-window -h \; \
        set-hook -g after-select-pane "run-shell 'echo tmux #{pane_left} >>$focus_log'"
    trap 'tmux "${tmux_server[@]}" kill-server 2>/dev/null' EXIT
    ;;
esac
terminal=""
found_terminal() {
    local class=$program
    [[ $program == tmux ]] && class=xterm
    [[ $program == tmux-gnome-terminal ]] && class=gnome-terminal
    terminal=$(xdotool search --onlyvisible --class "^$class\$" 2>/dev/null | head -n1)
    [[ -n $terminal ]]
}
poll 30 found_terminal || {
    echo "FAIL: $program did not appear: $(cat "$HOME/terminal.log")" >&2
    exit 1
}
terminal=$(printf '0x%x' "$terminal")
[[ $(monitor_of "$terminal") == MID ]] || xdotool windowmove "$terminal" 1280 0

# --- A gaze sweeping across MID only ---------------------------------------------------------
# The calibration maps 70 degrees of yaw to each side of the desktop, so the clip's 20 degrees
# reach about 550 points either side of MID's centre: past a fifth of the window's width from
# its centre (where a pane shortcut points), short of the neighbouring monitors. The face in the
# clip measures about 11 degrees down: that is put at mid-height, inside the panes.
clip="$HOME/head-turn.avi"
"$make_clip" "$clip" 60 15 || exit 1
"$calibrate" 70 --pitch -11 || exit 1

from=$(wc -l <"$focus_log")
start_orvane "$clip" "$HOME/orvane.log" || fail "orvane did not start"
started=$SECONDS
panes_done() { went_both_ways "$from" || ! orvane_alive; }
poll "$panes_seconds" panes_done
if went_both_ways "$from"; then
    echo "$program: focus went to the left, right, left, right pane in $((SECONDS - started)) s"
else
    fail "$program: the panes' focus did not go left, right, left, right;" \
        "it went to: $(focused_panes "$from" | tr '\n' ' ')"
fi
logged 'waiting: typing' && fail "$program: orvane took its own pane keys for typing"
stop_orvane "$program"

if [[ $failures -gt 0 ]]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "every check passed"
