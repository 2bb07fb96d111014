#!/usr/bin/env bash
# `orvane` where it cannot work (run through scripts/test-desktop.sh):
#  - with no display, or one that cannot be opened, it says so in one line on standard error
#    and ends with status 1 (never a toolkit abort); the report still prints what it can, and
#    ends with status 0 as long as it got out;
#  - in a Wayland session it says so in its report, in its log and with its set-up window
#    open, and never starts tracking, though camera, accessibility and calibration are there.
#
#   session.sh ORVANE CALIBRATE_TOOL CLIP
set -uo pipefail

if [[ $# -ne 3 || -z "${ORVANE_TEST_DESKTOP:-}" ]]; then
    echo "usage: scripts/test-desktop.sh $0 ORVANE CALIBRATE_TOOL CLIP" >&2
    exit 2
fi
orvane="$1"
calibrate="$2"
clip="$3"
export LC_ALL=C

# shellcheck source=script-support.sh
source "$(dirname "${BASH_SOURCE[0]}")/script-support.sh"

sanitizer_report() {
    grep -E -q 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$1"
}

# Runs orvane with the environment changes given before "--", then its arguments; sets
# status, out and err.
run() {
    local changes=()
    while [[ $1 != -- ]]; do
        changes+=("$1")
        shift
    done
    shift
    env "${changes[@]}" "$orvane" "$@" >"$HOME/out" 2>"$HOME/err" </dev/null
    status=$?
    out=$(cat "$HOME/out")
    err=$(cat "$HOME/err")
}

# --- No display -------------------------------------------------------------------------
no_display_case() {
    local what="$1" expected="$2"
    shift 2
    run "$@" -- 
    [[ $status -eq 1 ]] || fail "$what: status $status, not 1"
    [[ -z $out ]] || fail "$what: wrote to standard output: $out"
    [[ $(wc -l <"$HOME/err") -eq 1 ]] || fail "$what: not one line on standard error: $err"
    [[ $err == *"$expected"* ]] || fail "$what: '$err' does not say '$expected'"
    echo "$what: $err"
}
no_display_case "no DISPLAY" "DISPLAY is not set" -u DISPLAY -u WAYLAND_DISPLAY
no_display_case "a display that cannot be opened" '":4077" could not be opened' DISPLAY=:4077
no_display_case "Wayland without an X server" "log out and choose an X11 session" -u DISPLAY \
    WAYLAND_DISPLAY=wayland-0

run -u DISPLAY -u WAYLAND_DISPLAY -- --diagnose
[[ $status -eq 0 ]] || fail "report without a display: status $status, not 0"
[[ $out == "Orvane diagnostics"*"screens:"*"guards right now:"* ]] ||
    fail "report without a display: incomplete: $out"
[[ $err == "Orvane sees no desktop"* ]] || fail "report without a display: stderr: $err"
sanitizer_report "$HOME/err" && fail "report without a display: the sanitizers reported a fault"

# A report that cannot be written is the one failure.
env -u DISPLAY -u WAYLAND_DISPLAY "$orvane" --diagnose >/dev/full 2>"$HOME/err" </dev/null
status=$?
[[ $status -eq 1 ]] || fail "report to a full device: status $status, not 1"
sanitizer_report "$HOME/err" && fail "report to a full device: the sanitizers reported a fault"

# --- A Wayland session --------------------------------------------------------------------
wayland=(WAYLAND_DISPLAY=wayland-0 XDG_SESSION_TYPE=wayland)
run "${wayland[@]}" -- --diagnose
[[ $status -eq 0 ]] || fail "Wayland report: status $status, not 0"
grep -q -x 'session:       UNSUPPORTED  ← see below' "$HOME/out" ||
    fail "Wayland report: no session line"
sentence=$(tail -n1 "$HOME/out")
[[ $sentence == *Wayland*"log out and choose an X11 session"* ]] ||
    fail "Wayland report: the last line does not say what to do: $sentence"
sanitizer_report "$HOME/err" && fail "Wayland report: the sanitizers reported a fault"

# Everything tracking needs is there: a camera with a face, accessibility and a calibration.
"$calibrate" >/dev/null || fail "the calibration tool failed"
# On a terminal of its own (script(1)), so that its log shows there whether or not a journal
# is listening.
log="$HOME/wayland.log"
script --quiet --flush --return --command \
    "exec $(printf '%q ' env "${wayland[@]}" ORVANE_CAMERA_FILES="$clip" "$orvane")" /dev/null \
    >"$log" 2>&1 </dev/null &
script_pid=$!
pid=""
poll 10 eval 'pid=$(pgrep -P "$script_pid" -x orvane | head -n1); [[ -n $pid ]]' ||
    fail "Wayland: orvane did not start"
setup_window() { xdotool search --onlyvisible --name '^Set up Orvane$' >/dev/null 2>&1; }
poll 60 eval 'grep -q "Orvane started" "$log" && setup_window' ||
    fail "Wayland: orvane did not start with its set-up window open"
# The pipeline would have started within `start`, before "Orvane started" was logged.
grep -q 'pipeline started' "$log" && fail "Wayland: the pipeline started"
grep -q 'status: tracking\|focused ' "$log" && fail "Wayland: it tracked"
[[ $(grep -c -F "$sentence" "$log") -ge 1 ]] || fail "Wayland: standard error does not say why"
grep -q 'status: waiting: unsupported session' "$log" || fail "Wayland: the status does not say"
kill -0 "$pid" 2>/dev/null ||
    fail "Wayland: orvane (pid $pid) ended before it was asked to: $(tr -d '\r' <"$log")"
kill -TERM "$pid" 2>/dev/null
poll 15 eval '! kill -0 "$pid" 2>/dev/null' || fail "Wayland: orvane did not end on SIGTERM"
# Bounded: something of orvane's still holding the terminal would keep script(1) waiting.
poll 15 eval '! kill -0 "$script_pid" 2>/dev/null' || {
    fail "Wayland: its terminal stayed open; still there: $(ps -o pid=,args= -g "$(ps -o pgid= "$script_pid")")"
    kill -KILL "$script_pid"
}
wait "$script_pid"
status=$?
[[ $status -eq 0 ]] || fail "Wayland: orvane ended with status $status"
sanitizer_report "$log" && fail "Wayland: the sanitizers reported a fault"
echo "--- orvane's terminal (Wayland) ---"
tr -d '\r' <"$log"
echo "---"

if [[ $failures -gt 0 ]]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "every check passed"
