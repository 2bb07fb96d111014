#!/usr/bin/env bash
# One Orvane per desktop session, on the throw-away desktop (run through
# scripts/test-desktop.sh):
#  - a second start while one runs makes the first show its set-up window again and ends at
#    once with status 0, leaving the first as it was;
#  - a relaunched copy ("--after PID") is not turned away by the old one: it waits for it to
#    end and then takes over;
# and each Orvane ends on SIGTERM with status 0, saying so. Every wait polls, within a bound.
#
#   single-instance.sh ORVANE
set -uo pipefail

if [[ $# -ne 1 || -z "${ORVANE_TEST_DESKTOP:-}" ]]; then
    echo "usage: scripts/test-desktop.sh $0 ORVANE" >&2
    exit 2
fi
orvane="$1"
name=net.orvane.Orvane
# Start-up under the sanitizers takes seconds, and a loaded machine (the desktop tests beside
# this one) can take tens: every wait on orvane or the desktop has the same room.
start_seconds=60
stop_seconds=60

# shellcheck source=script-support.sh
source "$(dirname "${BASH_SOURCE[0]}")/script-support.sh"

# The process that owns our name on the session bus, or nothing.
owner() {
    gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
        -m org.freedesktop.DBus.GetConnectionUnixProcessID "$name" 2>/dev/null |
        sed -n 's/^(uint32 \([0-9]*\),)$/\1/p'
}
owned_by() { [[ "$(owner)" == "$1" ]]; }

setup_window() { xdotool search --onlyvisible --name '^Set up Orvane$' 2>/dev/null | head -n1; }
setup_shown() { [[ -n "$(setup_window)" ]]; }
setup_hidden() { [[ -z "$(setup_window)" ]]; }
alive() { kill -0 "$1" 2>/dev/null; }
dead() { ! kill -0 "$1" 2>/dev/null; }

# Starts orvane with the given arguments on a terminal of its own (so that it echoes its log
# whether or not a journal listens); sets $started_pid and $started_script.
start_orvane() {
    local log="$1"
    shift
    : >"$log"
    script --quiet --flush --return \
        --command "exec $(printf '%q ' "$orvane" "$@")" /dev/null >"$log" 2>&1 </dev/null &
    started_script=$!
    started_pid=""
    # The terminal's child becomes orvane only once it has executed it: wait for that name,
    # not for whichever child turns up first.
    poll "$start_seconds" eval 'started_pid=$(pgrep -x -P "$started_script" orvane | head -n1); [[ -n $started_pid ]]'
}

# SIGTERM, then: ends in time, status 0, "Orvane stopped" logged, no sanitizer report.
stop_orvane() {
    local what="$1" pid="$2" script_pid="$3" log="$4"
    if dead "$pid"; then
        fail "$what: orvane ended before it was told to"
        # Whatever still runs on its terminal must not keep the wait below going for ever.
        pkill -KILL -P "$script_pid" 2>/dev/null
    else
        kill -TERM "$pid"
        poll "$stop_seconds" dead "$pid" || {
            fail "$what: orvane did not end within $stop_seconds s of SIGTERM"
            kill -KILL "$pid" 2>/dev/null
        }
    fi
    wait "$script_pid"
    local status=$?
    [[ $status -eq 0 ]] || fail "$what: orvane exited with status $status"
    tr -d '\r' <"$log" | grep -q 'Orvane stopped' || fail "$what: \"Orvane stopped\" was not logged"
    if tr -d '\r' <"$log" | grep -E -q 'ERROR: (Address|Leak)Sanitizer|runtime error:'; then
        fail "$what: the sanitizers reported a fault"
    fi
    echo "--- orvane's terminal ($what) ---"
    tr -d '\r' <"$log"
    echo "---"
}

# --- A program that is not Orvane holds the name: a start says who, and asks it nothing ------
squatter_log="$HOME/squatter.log"
/usr/bin/python3 - "$name" >"$squatter_log" 2>&1 <<'PY' &
import sys
from gi.repository import Gio, GLib

name = sys.argv[1]
loop = GLib.MainLoop()
node = Gio.DBusNodeInfo.new_for_xml(
    "<node><interface name='net.orvane.Orvane'><method name='Activate'/></interface></node>")

def call(connection, sender, path, interface, method, parameters, invocation):
    print("asked:", method, flush=True)
    invocation.return_value(None)

def acquired(connection, _):
    connection.register_object("/net/orvane/Orvane", node.interfaces[0], call, None, None)
    print("owned", flush=True)

Gio.bus_own_name(Gio.BusType.SESSION, name, Gio.BusNameOwnerFlags.NONE, None, acquired,
                 lambda *_: loop.quit())
loop.run()
PY
squatter=$!
poll "$start_seconds" grep -q owned "$squatter_log" || fail "the squatter did not take the name $name"
"$orvane" >"$HOME/squatted.log" 2>&1 </dev/null &
squatted=$!
if poll "$start_seconds" dead "$squatted"; then
    wait "$squatted"
    status=$?
    [[ $status -eq 1 ]] || fail "a start beside the squatter exited with status $status, not 1"
    grep -q "is held by .*python.* (pid $squatter), which is not Orvane" "$HOME/squatted.log" ||
        fail "a start beside the squatter did not say who holds the name: $(cat "$HOME/squatted.log")"
else
    fail "a start beside the squatter did not end"
    kill -KILL "$squatted" 2>/dev/null
fi
grep -q asked "$squatter_log" && fail "the squatter was asked: $(grep asked "$squatter_log")"
kill "$squatter" 2>/dev/null
wait "$squatter" 2>/dev/null
poll "$start_seconds" eval '[[ -z "$(owner)" ]]' || fail "the squatter's name was not released"

# --- The first Orvane: not set up, so it opens its set-up window -----------------------
start_orvane "$HOME/first.log" || fail "the first orvane did not start"
first=$started_pid
first_script=$started_script
poll "$start_seconds" owned_by "$first" || fail "the first orvane never took the name $name"
poll "$start_seconds" setup_shown || fail "the first orvane did not open its set-up window"

# Closed the way a person closes it (openbox's Alt+F4 asks the window to close).
window=$(setup_window)
if [[ -n $window ]]; then
    xdotool windowactivate --sync "$window" >/dev/null 2>&1
    xdotool key --clearmodifiers alt+F4
    poll "$start_seconds" setup_hidden || fail "the set-up window did not close"
fi

# --- A second start hands over and ends ------------------------------------------------
started=$SECONDS
"$orvane" >"$HOME/second.log" 2>&1 </dev/null &
second=$!
if poll "$start_seconds" dead "$second"; then
    wait "$second"
    status=$?
    [[ $status -eq 0 ]] || fail "the second orvane exited with status $status"
    echo "second start: ended after $((SECONDS - started)) s"
else
    fail "the second orvane did not end"
    kill -KILL "$second" 2>/dev/null
fi
poll "$start_seconds" setup_shown || fail "the first orvane did not show its set-up window again"
alive "$first" || fail "the first orvane ended"
owned_by "$first" || fail "the name $name left the first orvane"
if grep -E -q 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$HOME/second.log"; then
    fail "second start: the sanitizers reported a fault"
fi

# --- A relaunched copy waits for the old one, then takes over ----------------------------
start_orvane "$HOME/relaunched.log" --after "$first" || fail "the relaunched orvane did not start"
relaunched=$started_pid
relaunched_script=$started_script
# It holds the old process by a pidfd while it waits.
waiting() { ls -l "/proc/$relaunched/fd" 2>/dev/null | grep -q 'anon_inode:\[pidfd\]'; }
poll "$start_seconds" waiting || fail "the relaunched orvane is not waiting for the old one"
alive "$relaunched" || fail "the relaunched orvane ended while the old one ran"
owned_by "$first" || fail "the name $name left the first orvane before it ended"

stop_orvane "first" "$first" "$first_script" "$HOME/first.log"
poll "$start_seconds" owned_by "$relaunched" ||
    fail "the relaunched orvane did not take the name once the old one had ended"
poll "$start_seconds" setup_shown || fail "the relaunched orvane did not open its set-up window"
stop_orvane "relaunched" "$relaunched" "$relaunched_script" "$HOME/relaunched.log"

if [[ $failures -gt 0 ]]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "every check passed"
