#!/usr/bin/env bash
# Runs one command in a private, throw-away sway session and returns its exit status: a
# headless sway with two 1920x1080 outputs side by side (HEADLESS-1 at 0,0, HEADLESS-2 at
# 1920,0), private system and session buses, the accessibility bus enabled. HOME and the XDG
# folders are private. Everything started here is ended here.
#
#   scripts/sway-desktop.sh command [args...]
#
# sway refuses to run as root: run by root, sway, the buses and the command all run as the
# unprivileged user 65534 (files the command reads must be readable by it), whose login shell
# is bash here, as a user's is.
#
# ORVANE_SWAY_CONFIG: a file of further sway configuration lines (bindings) to load.
# ORVANE_DEBIAN13_ROOT: a root file system (scripts/debian13-root.sh) to run sway from, by
# chroot, instead of this system's; everything else still runs here. Both sides share /tmp,
# /dev and /proc, so the buses, the runtime folder and the sockets are all under /tmp. Exits
# with 77 (skipped) when there is no such root.
#
# The command finds WAYLAND_DISPLAY, SWAYSOCK, DBUS_SESSION_BUS_ADDRESS, ORVANE_TEST_DESKTOP=1,
# ORVANE_COMPOSITOR_LOG (sway's log) and ORVANE_COMPOSITOR_VERSION (the running sway's,
# "1.10.1") set.
set -uo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 command [args...]" >&2
    exit 2
fi

desktop_name=sway-desktop
root="${ORVANE_DEBIAN13_ROOT:-}"
source "$(dirname "${BASH_SOURCE[0]}")/desktop-support.sh"
[[ -z "$root" ]] || require_root "$root" usr/bin/sway
begin_wayland_desktop sway "$@"
if [[ $(id -u) -eq 0 ]]; then
    desktop_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
    chown -R 65534:65534 "$workdir"
    # After the chown: the passwd file stays root's.
    give_login_shell 65534
fi
sway_log="$workdir/sway.log"
on_failure() {
    echo "$desktop_name: the last lines of sway's log:" >&2
    tail -n 40 "$sway_log" >&2
}

if [[ -n "$root" ]]; then
    [[ $(id -u) -eq 0 ]] || fail "running sway from $root needs root"
    # The shares are mounted in a mount namespace of sway's own, gone with it; the user is
    # changed inside the root, where chroot needed root still.
    sway=(unshare --mount --propagation private /bin/sh -c 'mount --rbind /dev "$0/dev" &&
        mount --bind /proc "$0/proc" && mount --bind /tmp "$0/tmp" &&
        exec chroot "$0" setpriv --reuid=65534 --regid=65534 --clear-groups -- sway "$@"' "$root")
else
    command -v sway >/dev/null || fail "sway is not installed (scripts/install-deps.sh)"
    sway=("${desktop_user[@]}" sway)
fi
sway_version="$("${sway[@]}" --version 2>/dev/null)" || fail "$("${sway[@]}" --version 2>&1)"
sway_version="${sway_version##* }"
export ORVANE_COMPOSITOR_VERSION="$sway_version"

# --- Buses ------------------------------------------------------------------------------
start_bus system DBUS_SYSTEM_BUS_ADDRESS
export DBUS_SYSTEM_BUS_ADDRESS
start_bus session DBUS_SESSION_BUS_ADDRESS
export DBUS_SESSION_BUS_ADDRESS
start_accessibility_bus

# --- sway -------------------------------------------------------------------------------
config="$workdir/sway.config"
cat >"$config" <<CONFIG
output HEADLESS-1 pos 0 0 res 1920x1080
output HEADLESS-2 pos 1920 0 res 1920x1080
# Focus moves only when asked: a pointer that wanders must not change what the test sees.
focus_follows_mouse no
mouse_warping none
focus_on_window_activation focus
xwayland disable
CONFIG
if [[ -n "${ORVANE_SWAY_CONFIG:-}" ]]; then
    [[ -r "$ORVANE_SWAY_CONFIG" ]] || fail "cannot read $ORVANE_SWAY_CONFIG"
    cat "$ORVANE_SWAY_CONFIG" >>"$config"
fi
chown 65534:65534 "$config" 2>/dev/null
# No core files from a compositor that crashes as it is ended.
ulimit -c 0
# sway takes the socket's name from SWAYSOCK when nothing is there yet.
export SWAYSOCK="$XDG_RUNTIME_DIR/sway-ipc.sock"
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    "${sway[@]}" -c "$config" >"$sway_log" 2>&1 &
started_pids+=($!)
sway_pid=$!
export ORVANE_COMPOSITOR_LOG="$sway_log"
swaymsg_() {
    "${desktop_user[@]}" swaymsg -s "$SWAYSOCK" "$@"
}
wait_for 30 swaymsg_ -t get_version || fail "sway did not answer on $SWAYSOCK"
swaymsg_ create_output >/dev/null || fail "sway could not make a second output"
outputs_placed() {
    swaymsg_ -r -t get_outputs | /usr/bin/python3 -c '
import json, sys
outputs = {o["name"]: o["rect"] for o in json.load(sys.stdin) if o.get("active")}
wanted = {"HEADLESS-1": (0, 0), "HEADLESS-2": (1920, 0)}
sys.exit(0 if all(n in outputs and (outputs[n]["x"], outputs[n]["y"], outputs[n]["width"],
                  outputs[n]["height"]) == (*xy, 1920, 1080) for n, xy in wanted.items()) else 1)'
}
wait_for 10 outputs_placed || fail "the outputs are not side by side: $(swaymsg_ -t get_outputs)"
display=""
for socket in "$XDG_RUNTIME_DIR"/wayland-*; do
    [[ -S "$socket" ]] && display="$(basename "$socket")" && break
done
[[ -n "$display" ]] || fail "sway made no Wayland socket in $XDG_RUNTIME_DIR"
export WAYLAND_DISPLAY="$display"
kill -0 "$sway_pid" 2>/dev/null || fail "sway ended"
# A headless sway's seat has no keyboard, and without one no window ever has keyboard focus
# (nor tells the accessibility bus what has): an idle virtual keyboard stands in for the one a
# real session has, for as long as the session.
"${desktop_user[@]}" wtype -s 86400000 &
started_pids+=($!)

export ORVANE_TEST_DESKTOP=1
"${desktop_user[@]}" "$@"
