#!/usr/bin/env bash
# Runs one command in a private, throw-away KDE Plasma (KWin) Wayland session and returns its
# exit status: a virtual KWin with two 1920x1080 outputs side by side (left at x=0, right at
# x=1920), private system and session buses, the accessibility bus enabled, animations off.
# HOME and the XDG folders are private. Everything started here is ended here.
#
#   scripts/kwin-desktop.sh command [args...]
#
# ORVANE_DEBIAN13_ROOT: a root file system (scripts/debian13-root.sh) to run KWin 6 from, by
# chroot, instead of this system's KWin 5.27; everything else still runs here. Both sides
# share /tmp, /dev and /proc, so the buses, the runtime folder, the Wayland socket and any
# script KWin is told to load must lie under /tmp. Exits with 77 (skipped) when there is no
# such root.
#
# The command finds WAYLAND_DISPLAY, DBUS_SESSION_BUS_ADDRESS, DBUS_SYSTEM_BUS_ADDRESS,
# XDG_RUNTIME_DIR, XDG_SESSION_TYPE=wayland, XDG_CURRENT_DESKTOP=KDE, QT_QPA_PLATFORM=wayland,
# GDK_BACKEND=wayland, ORVANE_TEST_DESKTOP=1, ORVANE_COMPOSITOR_LOG (KWin's log, script errors
# included), ORVANE_COMPOSITOR_VERSION ("5.27.5"), ORVANE_KWIN_PID and ORVANE_KWIN_START (a
# script that starts KWin again the same way, for tests of a KWin restart; it prints the new
# KWin's pid) set.
set -uo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 command [args...]" >&2
    exit 2
fi

desktop_name=kwin-desktop
root="${ORVANE_DEBIAN13_ROOT:-}"
source "$(dirname "${BASH_SOURCE[0]}")/desktop-support.sh"
[[ -z "$root" ]] || require_root "$root" usr/bin/kwin_wayland
begin_wayland_desktop KDE "$@"
export KDE_SESSION_VERSION=5
kwin_log="$workdir/kwin.log"
on_failure() {
    echo "$desktop_name: the last lines of KWin's log:" >&2
    tail -n 40 "$kwin_log" >&2
}

# The packaged binary carries file capabilities this sandbox cannot grant, so a plain copy
# runs instead; KWin 6 only takes its own platform plugin in a binary named kwin_wayland.
mkdir -p "$workdir/kwin"
kwin_binary="$workdir/kwin/kwin_wayland"
if [[ -n "$root" ]]; then
    [[ $(id -u) -eq 0 ]] || fail "running KWin from $root needs root"
    cp "$root/usr/bin/kwin_wayland" "$kwin_binary" || fail "cannot copy KWin from $root"
    # The shares are mounted in a mount namespace of KWin's own, gone with it.
    kwin=(unshare --mount --propagation private /bin/sh -c 'mount --rbind /dev "$0/dev" &&
        mount --bind /proc "$0/proc" && mount --bind /tmp "$0/tmp" &&
        exec chroot "$0" "$@"' "$root" "$kwin_binary")
    export KDE_SESSION_VERSION=6
else
    command -v kwin_wayland >/dev/null || fail "kwin_wayland is not installed (scripts/install-deps.sh)"
    cp "$(command -v kwin_wayland)" "$kwin_binary" || fail "cannot copy kwin_wayland"
    kwin=("$kwin_binary")
fi
kwin_version="$("${kwin[@]}" --version 2>/dev/null | tail -n 1)" ||
    fail "$("${kwin[@]}" --version 2>&1)"
kwin_version="${kwin_version##* }"
[[ "$kwin_version" =~ ^[0-9]+\.[0-9]+ ]] || fail "KWin did not say its version: $kwin_version"
export ORVANE_COMPOSITOR_VERSION="$kwin_version"

# --- Buses ------------------------------------------------------------------------------
start_bus system DBUS_SYSTEM_BUS_ADDRESS
export DBUS_SYSTEM_BUS_ADDRESS
start_bus session DBUS_SESSION_BUS_ADDRESS
export DBUS_SESSION_BUS_ADDRESS

# --- Settings ---------------------------------------------------------------------------
mkdir -p "$XDG_CONFIG_HOME"
cat >"$XDG_CONFIG_HOME/kdeglobals" <<SETTINGS
[KDE]
AnimationDurationFactor=0
SETTINGS
cat >"$XDG_CONFIG_HOME/kwinrc" <<SETTINGS
[Plugins]
slideEnabled=false
SETTINGS
start_accessibility_bus

# --- KWin -------------------------------------------------------------------------------
# No core files from a KWin that crashes as it is ended.
ulimit -c 0
# In the private runtime folder: no other desktop sees it.
export WAYLAND_DISPLAY=orvane-wayland
export ORVANE_COMPOSITOR_LOG="$kwin_log"
kwin_start="$workdir/kwin/start.sh"
{
    echo '#!/usr/bin/env bash'
    printf '%q ' "${kwin[@]}" --virtual --width 1920 --height 1080 --output-count 2 \
        --socket "$WAYLAND_DISPLAY" --no-lockscreen
    printf '>>%q 2>&1 &\necho $!\n' "$kwin_log"
} >"$kwin_start"
chmod +x "$kwin_start"
export ORVANE_KWIN_START="$kwin_start"
kwin_pid="$("$kwin_start")"
started_pids+=("$kwin_pid")
export ORVANE_KWIN_PID="$kwin_pid"
gdbus wait --session --timeout 30 org.kde.KWin || fail "KWin did not start"
# The scripting object comes last in KWin's start-up; tests load scripts at once.
scripting_ready() {
    gdbus introspect --session -d org.kde.KWin -o /Scripting | grep -q loadScript
}
wait_for 30 scripting_ready || fail "KWin's scripting interface did not appear"
kill -0 "$kwin_pid" 2>/dev/null || fail "KWin ended"

export ORVANE_TEST_DESKTOP=1
"$@"
