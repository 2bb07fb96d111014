#!/usr/bin/env bash
# Runs one command in a private, throw-away labwc session and returns its exit status: a
# headless labwc (from a Debian 13 root made by scripts/debian13-root.sh) with two 1920x1080
# outputs side by side (HEADLESS-1 at 0,0, HEADLESS-2 at 1920,0), private system and session
# buses, the accessibility bus enabled. HOME and the XDG folders are private. Everything
# started here is ended here. Windows whose title ends in "-left" open on HEADLESS-1, those
# whose title ends in "-right" on HEADLESS-2 (window rules of the private rc.xml); labwc puts
# the others where it likes.
#
#   scripts/labwc-desktop.sh command [args...]
#
# labwc, wlr-randr and the buses run as the unprivileged user 65534, and so does the command
# (files it reads must be readable by it). labwc's side shares /tmp, /dev and /proc with ours,
# so the buses, the runtime folder and the sockets are all under /tmp.
#
# ORVANE_LABWC_ROOT: the root to run labwc from (default /var/cache/orvane/debian13-labwc-root);
# exits with 77 (skipped) when there is none.
# ORVANE_LABWC_RC: a file of further rc.xml elements (key bindings) put inside <labwc_config>.
#
# The command finds WAYLAND_DISPLAY, DBUS_SESSION_BUS_ADDRESS, XDG_CURRENT_DESKTOP=labwc:wlroots
# (as labwc sets it for its programs), ORVANE_TEST_DESKTOP=1, ORVANE_COMPOSITOR_LOG (labwc's
# log), ORVANE_COMPOSITOR_VERSION ("0.8.3") and ORVANE_LABWC_ROOT set.
set -uo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 command [args...]" >&2
    exit 2
fi

desktop_name=labwc-desktop
root="${ORVANE_LABWC_ROOT:-/var/cache/orvane/debian13-labwc-root}"
source "$(dirname "${BASH_SOURCE[0]}")/desktop-support.sh"
require_root "$root" usr/bin/labwc usr/bin/wlr-randr
[[ $(id -u) -eq 0 ]] || { echo "$desktop_name: running labwc from $root needs root" >&2; exit 1; }
begin_wayland_desktop labwc:wlroots "$@"
export ORVANE_LABWC_ROOT="$root"
desktop_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
chown -R 65534:65534 "$workdir"
labwc_log="$workdir/labwc.log"
on_failure() {
    echo "$desktop_name: the last lines of labwc's log:" >&2
    tail -n 40 "$labwc_log" >&2
}

# A program of the root, as the desktop's user: the shares are mounted in a mount namespace
# of its own, gone with it; the user is changed inside the root, where chroot needed root.
in_root() {
    unshare --mount --propagation private /bin/sh -c 'mount --rbind /dev "$0/dev" &&
        mount --bind /proc "$0/proc" && mount --bind /tmp "$0/tmp" &&
        exec chroot "$0" setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"' "$root" "$@"
}
labwc_version="$(in_root labwc --version 2>/dev/null)" || fail "$(in_root labwc --version 2>&1)"
labwc_version="${labwc_version#labwc }"
labwc_version="${labwc_version%% *}"
export ORVANE_COMPOSITOR_VERSION="$labwc_version"

# --- Buses ------------------------------------------------------------------------------
start_bus system DBUS_SYSTEM_BUS_ADDRESS
export DBUS_SYSTEM_BUS_ADDRESS
start_bus session DBUS_SESSION_BUS_ADDRESS
export DBUS_SESSION_BUS_ADDRESS
start_accessibility_bus

# --- labwc ------------------------------------------------------------------------------
config="$workdir/labwc"
mkdir -p "$config"
{
    cat <<'RC'
<?xml version="1.0"?>
<labwc_config>
  <!-- Focus moves only when asked: a pointer that wanders must not change what the test sees. -->
  <focus><followMouse>no</followMouse><raiseOnFocus>yes</raiseOnFocus></focus>
  <windowRules>
    <windowRule title="*-left">
      <action name="MoveToOutput" output="HEADLESS-1" />
    </windowRule>
    <windowRule title="*-right">
      <action name="MoveToOutput" output="HEADLESS-2" />
    </windowRule>
  </windowRules>
RC
    if [[ -n "${ORVANE_LABWC_RC:-}" ]]; then
        [[ -r "$ORVANE_LABWC_RC" ]] || fail "cannot read $ORVANE_LABWC_RC"
        cat "$ORVANE_LABWC_RC"
    fi
    echo '</labwc_config>'
} >"$config/rc.xml"
chown -R 65534:65534 "$config"
# No core files from a compositor that crashes as it is ended.
ulimit -c 0
WLR_BACKENDS=headless WLR_HEADLESS_OUTPUTS=2 WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    in_root labwc -C "$config" >"$labwc_log" 2>&1 &
started_pids+=($!)
labwc_pid=$!
export ORVANE_COMPOSITOR_LOG="$labwc_log"
display_found() {
    local socket
    for socket in "$XDG_RUNTIME_DIR"/wayland-*; do
        [[ -S "$socket" ]] && display="$(basename "$socket")" && return 0
    done
    return 1
}
display=""
wait_for 30 display_found || fail "labwc made no Wayland socket in $XDG_RUNTIME_DIR"
display_found
export WAYLAND_DISPLAY="$display"
randr() { in_root wlr-randr "$@"; }
wait_for 10 randr || fail "wlr-randr could not reach labwc"
randr --output HEADLESS-1 --custom-mode 1920x1080 --pos 0,0 \
    --output HEADLESS-2 --custom-mode 1920x1080 --pos 1920,0 >/dev/null ||
    fail "could not place the outputs: $(randr 2>&1)"
outputs_placed() {
    randr | /usr/bin/python3 -c '
import re, sys
text = sys.stdin.read()
found = {}
for block in re.split(r"\n(?=\S)", text):
    name = block.split()[0] if block.split() else ""
    position = re.search(r"Position: (-?\d+),(-?\d+)", block)
    current = re.search(r"(\d+)x(\d+) px[^\n]*current", block)
    if position and current:
        found[name] = (int(position[1]), int(position[2]), int(current[1]), int(current[2]))
wanted = {"HEADLESS-1": (0, 0, 1920, 1080), "HEADLESS-2": (1920, 0, 1920, 1080)}
sys.exit(0 if all(found.get(n) == v for n, v in wanted.items()) else 1)'
}
wait_for 10 outputs_placed || fail "the outputs are not side by side: $(randr 2>&1)"
kill -0 "$labwc_pid" 2>/dev/null || fail "labwc ended"
# A headless labwc's seat has no keyboard, and without one no window ever has keyboard focus
# (nor tells the accessibility bus what has): an idle virtual keyboard stands in for the one a
# real session has, for as long as the session.
"${desktop_user[@]}" wtype -s 86400000 &
started_pids+=($!)

export ORVANE_TEST_DESKTOP=1
"${desktop_user[@]}" "$@"
