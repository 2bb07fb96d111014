#!/usr/bin/env bash
# Runs one command on a private, throw-away X desktop and returns its exit status:
# Xvfb (3840x1080, three 1280x1080 monitors, the left one primary), a private D-Bus session
# with the accessibility bus enabled, and a window manager (openbox unless told otherwise). HOME and the XDG directories are private.
# Everything started here is ended here, on success, on failure and on a signal.
#
#   scripts/test-desktop.sh command [args...]
#
# ORVANE_DESKTOP_MONITORS=2 makes it two monitors, LEFT and RIGHT (2560x1080).
# ORVANE_DESKTOP_WM chooses the window manager: openbox (the default), mutter, kwin, i3,
# fluxbox or icewm, each started as it runs in a session of its own, with a private minimal
# configuration where it needs one.
#
# The command finds DISPLAY, DBUS_SESSION_BUS_ADDRESS and ORVANE_TEST_DESKTOP=1 set.
set -uo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 command [args...]" >&2
    exit 2
fi

# A private PID namespace makes clean-up total: when this script's namespace ends, the kernel
# ends every process left in it, whatever daemonised itself. Fall back to walking our own
# process tree when namespaces are not available (an unprivileged user without user
# namespaces).
if [[ -z "${ORVANE_TEST_DESKTOP_NS:-}" ]]; then
    export ORVANE_TEST_DESKTOP_NS=1
    if unshare --pid --fork --kill-child --mount-proc true 2>/dev/null; then
        exec unshare --pid --fork --kill-child --mount-proc "$BASH" "$0" "$@"
    elif unshare --user --map-root-user --pid --fork --kill-child --mount-proc true 2>/dev/null; then
        exec unshare --user --map-root-user --pid --fork --kill-child --mount-proc \
            "$BASH" "$0" "$@"
    fi
fi

workdir="$(mktemp -d "${TMPDIR:-/tmp}/orvane-desktop.XXXXXX")"
started_pids=()

descendants() {
    local parent="$1" child
    for child in $(ps -o pid= --ppid "$parent" 2>/dev/null); do
        descendants "$child"
        echo "$child"
    done
}

teardown() {
    local status=$?
    trap - EXIT INT TERM HUP
    local pids
    pids="$(descendants $$)"
    if [[ -n "$pids" ]]; then
        kill -TERM $pids 2>/dev/null
        local deadline=$((SECONDS + 3))
        while [[ $SECONDS -lt $deadline ]]; do
            local alive=0 pid
            for pid in $pids; do
                if kill -0 "$pid" 2>/dev/null; then
                    alive=1
                fi
            done
            [[ $alive -eq 0 ]] && break
            sleep 0.05
        done
        kill -KILL $pids 2>/dev/null
    fi
    wait 2>/dev/null
    rm -rf "$workdir"
    exit "$status"
}
trap teardown EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

fail() {
    echo "test-desktop: $*" >&2
    exit 1
}

# Polls `check` until it succeeds or `seconds` pass. Start-up only; tests wait on X events.
wait_for() {
    local seconds="$1"
    shift
    local deadline=$((SECONDS + seconds))
    until "$@" >/dev/null 2>&1; do
        [[ $SECONDS -ge $deadline ]] && return 1
        sleep 0.02
    done
}

mkdir -p "$workdir/home" "$workdir/runtime" "$workdir/config" "$workdir/data" "$workdir/cache"
chmod 700 "$workdir/runtime"
export HOME="$workdir/home"
export XDG_RUNTIME_DIR="$workdir/runtime"
export XDG_CONFIG_HOME="$workdir/config"
export XDG_DATA_HOME="$workdir/data"
export XDG_CACHE_HOME="$workdir/cache"
export XDG_SESSION_TYPE=x11
export GDK_BACKEND=x11
export QT_QPA_PLATFORM=xcb
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
# A file in the private config folder: settings outlive the processes that set them, as in a
# real session (a restarted accessibility bus reads back that it is switched on).
export GSETTINGS_BACKEND=keyfile
export GTK_USE_PORTAL=0
export GIO_USE_VFS=local
unset NO_AT_BRIDGE WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS SESSION_MANAGER
unset XAUTHORITY DISPLAY

# --- X server with three (or two) monitors ----------------------------------------------
monitors="${ORVANE_DESKTOP_MONITORS:-3}"
[[ $monitors == 2 || $monitors == 3 ]] || fail "ORVANE_DESKTOP_MONITORS must be 2 or 3"
# The X server's own lock file names the pid that holds a display, and a pid from another
# desktop's PID namespace looks dead from this one: a server started here would take over a
# running desktop's display. So each desktop first takes a display number by a lock that the
# kernel keeps across namespaces, held until this script ends.
display_number=""
for number in $(seq 20 99); do
    exec {displaylock}>"/tmp/.orvane-desktop-$number.lock"
    if flock -n "$displaylock"; then
        if [[ ! -e /tmp/.X$number-lock && ! -e /tmp/.X11-unix/X$number ]]; then
            display_number=$number
            break
        fi
        flock -u "$displaylock"
    fi
    exec {displaylock}>&-
done
[[ -n $display_number ]] || fail "no free X display number"
Xvfb ":$display_number" -screen 0 "$((1280 * monitors))x1080x24" -nolisten tcp -noreset \
    >"$workdir/xvfb.log" 2>&1 &
started_pids+=($!)
export DISPLAY=":$display_number"
wait_for 10 xdpyinfo || fail "Xvfb did not start: $(cat "$workdir/xvfb.log")"

xrandr --setmonitor '*LEFT' 1280/338x1080/286+0+0 screen >/dev/null ||
    fail "xrandr --setmonitor LEFT failed"
if [[ $monitors == 3 ]]; then
    xrandr --setmonitor MID 1280/338x1080/286+1280+0 none >/dev/null ||
        fail "xrandr --setmonitor MID failed"
fi
xrandr --setmonitor RIGHT "1280/338x1080/286+$((1280 * (monitors - 1)))+0" none >/dev/null ||
    fail "xrandr --setmonitor RIGHT failed"

# --- D-Bus session and the accessibility bus --------------------------------------------
exec {busfd}>"$workdir/bus"
dbus-daemon --session --nofork --nopidfile --print-address="$busfd" \
    >"$workdir/dbus.log" 2>&1 &
started_pids+=($!)
exec {busfd}>&-
wait_for 10 test -s "$workdir/bus" || fail "dbus-daemon did not start"
export DBUS_SESSION_BUS_ADDRESS="$(head -n1 "$workdir/bus")"

/usr/libexec/at-spi-bus-launcher --launch-immediately >"$workdir/atspi.log" 2>&1 &
started_pids+=($!)
gdbus wait --session --timeout 10 org.a11y.Bus || fail "the accessibility bus did not start"
gdbus call --session -d org.a11y.Bus -o /org/a11y/bus \
    -m org.freedesktop.DBus.Properties.Set org.a11y.Status IsEnabled '<true>' >/dev/null ||
    fail "could not enable the accessibility bus"

# --- Window manager ---------------------------------------------------------------------
wm="${ORVANE_DESKTOP_WM:-openbox}"
wm_command=()
case $wm in
openbox) wm_command=(openbox --sm-disable) ;;
# Without a session manager, and compositing through llvmpipe as on any GPU-less X server.
mutter) wm_command=(mutter --x11 --replace --sm-disable) ;;
# KWin reads its own settings only: no compositing (nothing to composite into under Xvfb).
kwin)
    export KWIN_COMPOSE=N
    wm_command=(kwin_x11 --replace)
    ;;
# No bar (it would take a strip of each monitor and start i3bar), every window floating so it
# keeps the place it asks for, and no pop-up about a missing configuration.
i3)
    mkdir -p "$XDG_CONFIG_HOME/i3"
    cat >"$XDG_CONFIG_HOME/i3/config" <<'I3'
# i3 config file (v4)
font pango:monospace 8
focus_follows_mouse no
for_window [class=".*"] floating enable
floating_maximum_size -1 x -1
I3
    wm_command=(i3 -c "$XDG_CONFIG_HOME/i3/config")
    ;;
fluxbox)
    mkdir -p "$HOME/.fluxbox"
    printf 'session.screen0.toolbar.visible: false\n' >"$HOME/.fluxbox/init"
    wm_command=(fluxbox -rc "$HOME/.fluxbox/init")
    ;;
# Without its task bar, whose tray and clock would start programs of their own.
icewm)
    mkdir -p "$HOME/.icewm"
    printf 'ShowTaskBar=0\nTaskBarShowTray=0\n' >"$HOME/.icewm/preferences"
    wm_command=(icewm)
    ;;
*) fail "unknown ORVANE_DESKTOP_WM '$wm' (openbox, mutter, kwin, i3, fluxbox, icewm)" ;;
esac
"${wm_command[@]}" >"$workdir/wm.log" 2>&1 &
started_pids+=($!)
wait_for 20 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' ||
    fail "$wm did not start: $(cat "$workdir/wm.log")"
export ORVANE_DESKTOP_WM="$wm"

export ORVANE_TEST_DESKTOP=1
"$@"
