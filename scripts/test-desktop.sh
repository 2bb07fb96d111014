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
# fluxbox, icewm, xfwm4 (XFCE), muffin (Cinnamon) or marco (MATE), each started as it runs in a
# session of its own, with a private minimal configuration where it needs one. Under xfwm4 the
# X server is Xorg's dummy driver rather than Xvfb (see below).
#
# The command finds DISPLAY, DBUS_SESSION_BUS_ADDRESS and ORVANE_TEST_DESKTOP=1 set.
set -uo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 command [args...]" >&2
    exit 2
fi

desktop_name=test-desktop
source "$(dirname "${BASH_SOURCE[0]}")/desktop-support.sh"
enter_private_namespace "$@"
begin_desktop

use_private_home
export XDG_SESSION_TYPE=x11
export GDK_BACKEND=x11
export QT_QPA_PLATFORM=xcb

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
export DISPLAY=":$display_number"
wm="${ORVANE_DESKTOP_WM:-openbox}"
names=(LEFT MID RIGHT)
[[ $monitors == 2 ]] && names=(LEFT RIGHT)
if [[ $wm == xfwm4 ]]; then
    # xfwm4 keeps every window on the monitors GTK 3 reports, and GTK 3 counts only monitors
    # with an output: on Xvfb, whose one output is LEFT's, no window could stay on MID or RIGHT.
    # So this desktop's server is Xorg with its dummy driver, one output per monitor.
    cat >"$workdir/xorg.conf" <<'XORG'
Section "ServerFlags"
    Option "AutoAddDevices" "false"
    Option "DontVTSwitch" "true"
EndSection
Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam 64000
EndSection
Section "Screen"
    Identifier "screen"
    Device "dummy"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Virtual 3840 1080
    EndSubSection
EndSection
XORG
    Xorg "$DISPLAY" -config "$workdir/xorg.conf" -logfile "$workdir/xorg.log" -novtswitch \
        -sharevts -nolisten tcp -noreset >"$workdir/xvfb.log" 2>&1 &
    started_pids+=($!)
    wait_for 10 xdpyinfo || fail "Xorg did not start: $(cat "$workdir/xvfb.log")"
    xrandr --newmode 1280x1080 115.00 1280 1368 1496 1712 1080 1083 1093 1120 -hsync +vsync ||
        fail "xrandr --newmode failed"
    layout=(--fb "$((1280 * monitors))x1080")
    for i in "${!names[@]}"; do
        xrandr --addmode "DUMMY$i" 1280x1080 || fail "xrandr --addmode DUMMY$i failed"
        layout+=(--output "DUMMY$i" --mode 1280x1080 --pos "$((1280 * i))x0")
    done
    xrandr "${layout[@]}" --output DUMMY0 --primary || fail "xrandr could not lay out DUMMY*"
    outputs=(DUMMY0 DUMMY1 DUMMY2)
else
    Xvfb "$DISPLAY" -screen 0 "$((1280 * monitors))x1080x24" -nolisten tcp -noreset \
        >"$workdir/xvfb.log" 2>&1 &
    started_pids+=($!)
    wait_for 10 xdpyinfo || fail "Xvfb did not start: $(cat "$workdir/xvfb.log")"
    outputs=(screen none none)
fi
for i in "${!names[@]}"; do
    primary=""
    [[ $i == 0 ]] && primary="*"
    xrandr --setmonitor "$primary${names[$i]}" "1280/338x1080/286+$((1280 * i))+0" \
        "${outputs[$i]}" >/dev/null || fail "xrandr --setmonitor ${names[$i]} failed"
done

# --- D-Bus session and the accessibility bus --------------------------------------------
start_bus session DBUS_SESSION_BUS_ADDRESS
export DBUS_SESSION_BUS_ADDRESS
start_accessibility_bus

# --- Window manager ---------------------------------------------------------------------
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
xfwm4) wm_command=(xfwm4) ;;
muffin) wm_command=(muffin) ;;
marco) wm_command=(marco) ;;
*) fail "unknown ORVANE_DESKTOP_WM '$wm' (openbox, mutter, kwin, i3, fluxbox, icewm, xfwm4, muffin, marco)" ;;
esac
"${wm_command[@]}" >"$workdir/wm.log" 2>&1 &
started_pids+=($!)
wait_for 20 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' ||
    fail "$wm did not start: $(cat "$workdir/wm.log")"
if [[ $wm == xfwm4 ]]; then
    # Until a client asks the server for its outputs afresh, xfwm4 goes on placing and moving
    # windows within the first monitor only.
    xrandr >/dev/null
fi
export ORVANE_DESKTOP_WM="$wm"

export ORVANE_TEST_DESKTOP=1
"$@"
