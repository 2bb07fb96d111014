# Shared by the shell tests: counted failures, bounded polling, the desktop's windows and a
# running orvane. Source it.

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Polls `check` every 50 ms until it succeeds or `seconds` pass.
poll() {
    local seconds="$1"
    shift
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        [[ $SECONDS -ge $deadline ]] && return 1
        sleep 0.05
    done
}

# --- Windows on the throw-away desktop (three 1280-wide monitors LEFT, MID, RIGHT) ---------

active_window() {
    xprop -root -notype _NET_ACTIVE_WINDOW | awk '{print $NF}'
}

# The monitor that holds most of the window (its centre's: the monitors are side by side).
monitor_of() {
    local x
    x=$(xdotool getwindowgeometry --shell "$1" | awk -F= '$1 == "X" { x = $2 }
        $1 == "WIDTH" { w = $2 } END { print int(x + w / 2) }')
    if ((x < 1280)); then echo LEFT; elif ((x < 2560)); then echo MID; else echo RIGHT; fi
}

# Waits up to 20 s for a visible window titled exactly $1 and prints its id (0x...).
window_titled() {
    local title="$1" window=""
    found() {
        window=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n1)
        [[ -n $window ]]
    }
    poll 20 found || return 1
    printf '0x%x\n' "$window"
}

# Waits for the window titled $1 and makes sure it lies on monitor $2, moving it to root
# ($3, $4) when the window manager placed it elsewhere (a tiling or centring manager ignores
# the place a program asks for); prints its id.
window_on() {
    local title="$1" monitor="$2" x="$3" y="$4" window
    window=$(window_titled "$title") || return 1
    if [[ $(monitor_of "$window") != "$monitor" ]]; then
        xdotool windowmove "$window" "$x" "$y"
        poll 10 eval '[[ $(monitor_of "$window") == "$monitor" ]]' || return 1
    fi
    echo "$window"
}

# --- Running orvane (set $orvane first) ---------------------------------------------------
# orvane runs on a terminal of its own (script(1)), so it echoes its log there whether or not
# a journal is listening.

# The monitors' names as orvane reports them, by the root x of their left edge.
monitor_name() {
    "$orvane" --diagnose 2>/dev/null |
        awk -v at=" at ($1," '/^screens:/ { list = 1; next } list && /^  / && index($0, at) {
            sub(/^  /, ""); sub(/: [0-9]+x[0-9]+ at \([-0-9]+,[-0-9]+\)$/, ""); print; exit }'
}

# Starts orvane with the pictures in $1 as its camera, logging to $2; sets $orvane_pid,
# $script_pid and $log.
start_orvane() {
    log="$2"
    : >"$log"
    ORVANE_CAMERA_FILES="$1" script --quiet --flush --return \
        --command "exec $(printf '%q' "$orvane")" /dev/null >"$log" 2>&1 </dev/null &
    script_pid=$!
    orvane_pid=""
    # By name as well: until script(1)'s child has become orvane it is not the one to watch.
    poll 10 eval 'orvane_pid=$(pgrep -x -P "$script_pid" orvane | head -n1); [[ -n $orvane_pid ]]'
}

orvane_alive() {
    [[ -n "${orvane_pid:-}" ]] && kill -0 "$orvane_pid" 2>/dev/null
}

logged() {
    tr -d '\r' <"$log" | grep -q -E "$1"
}

# A focus switch to a window on the monitor named $1 was logged.
focused_on() {
    tr -d '\r' <"$log" | awk -v end=" on $1" 'index($0, "focused ") &&
        substr($0, length($0) - length(end) + 1) == end { found = 1 } END { exit !found }'
}

# SIGTERM, then: orvane ends within $stop_seconds, as ended_well checks.
stop_orvane() {
    local what="$1"
    if ! orvane_alive; then
        fail "$what: orvane ($orvane_pid) ended before it was told to;" \
            "script(1) runs: $(pgrep -a -P "$script_pid" | tr '\n' ' ')"
        pkill -KILL -P "$script_pid" # whatever it runs, so that waiting for it ends
    else
        kill -TERM "$orvane_pid"
        local start=$SECONDS
        if ! poll "$stop_seconds" eval '! kill -0 "$orvane_pid" 2>/dev/null'; then
            fail "$what: orvane did not end within $stop_seconds s of SIGTERM"
            kill -KILL "$orvane_pid" 2>/dev/null
        fi
        echo "$what: orvane ended $((SECONDS - start)) s after SIGTERM"
    fi
    ended_well "$what"
}

# Orvane has ended with status 0, saying so, and no sanitizer complained; its log is shown.
ended_well() {
    local what="$1"
    wait "$script_pid"
    local status=$?
    [[ $status -eq 0 ]] || fail "$what: orvane exited with status $status"
    logged 'Orvane stopped' || fail "$what: \"Orvane stopped\" was not logged"
    if logged 'ERROR: (Address|Leak)Sanitizer|runtime error:'; then
        fail "$what: the sanitizers reported a fault"
    fi
    echo "--- orvane's terminal ($what) ---"
    tr -d '\r' <"$log"
    echo "---"
}

# An xterm titled $1 at the X geometry $2; prints its window once it shows.
open_window() {
    xterm -title "$1" -geometry "$2" >/dev/null 2>&1 &
    window_titled "$1"
}

# The two windows a head turn moves focus between, one on LEFT and one on RIGHT: sets
# $left_window and $right_window, or ends the test when either does not show.
open_side_windows() {
    left_window=$(open_window orvane-left 80x24+200+200) || {
        echo "FAIL: the left window did not appear" >&2
        exit 1
    }
    right_window=$(open_window orvane-right 80x24+2800+200) || {
        echo "FAIL: the right window did not appear" >&2
        exit 1
    }
}
