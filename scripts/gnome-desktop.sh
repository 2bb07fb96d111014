#!/usr/bin/env bash
# Runs one command in a private, throw-away GNOME Shell Wayland session and returns its exit
# status: a headless shell with two 1920x1080 virtual monitors side by side, private system
# and session buses, the accessibility bus enabled, animations off, the overview closed.
# HOME and the XDG folders are private. Everything started here is ended here.
#
#   scripts/gnome-desktop.sh command [args...]
#
# ORVANE_GNOME_EXTENSIONS: extension folders (named by their uuid), separated by ':', to load
# and enable; one of them must offer the bridge or the test shell so the overview can be
# closed. They are copied into the private data folder.
#
# ORVANE_GNOME_ROOT: a root file system (scripts/debian13-root.sh) to run the shell from, by
# chroot, instead of this system's; everything else still runs here. Both sides share /tmp,
# /dev and /proc, so the buses, the runtime folder and the Wayland socket are all under /tmp.
# Exits with 77 (skipped) when there is no such root.
#
# The command finds WAYLAND_DISPLAY, DBUS_SESSION_BUS_ADDRESS, ORVANE_TEST_DESKTOP=1,
# ORVANE_GNOME_SHELL_LOG (the shell's log, JavaScript errors included) and
# ORVANE_GNOME_SHELL_VERSION (the running shell's, "48.4") set.
set -uo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 command [args...]" >&2
    exit 2
fi

desktop_name=gnome-desktop
root="${ORVANE_GNOME_ROOT:-}"
source "$(dirname "${BASH_SOURCE[0]}")/desktop-support.sh"
[[ -z "$root" ]] || require_root "$root" usr/bin/gnome-shell
begin_wayland_desktop GNOME "$@"
shell_log="$workdir/gnome-shell.log"
on_failure() {
    echo "$desktop_name: the last lines of the shell's log:" >&2
    tail -n 40 "$shell_log" >&2
}

if [[ -n "$root" ]]; then
    [[ $(id -u) -eq 0 ]] || fail "running the shell from $root needs root"
    # The shares are mounted in a mount namespace of the shell's own, gone with it. The root's
    # /run is its own and empty: no systemd there to ask for a session.
    shell=(unshare --mount --propagation private /bin/sh -c 'mount --rbind /dev "$0/dev" &&
        mount --bind /proc "$0/proc" && mount --bind /tmp "$0/tmp" &&
        exec chroot "$0" gnome-shell "$@"' "$root")
else
    command -v gnome-shell >/dev/null || fail "gnome-shell is not installed (scripts/install-deps.sh)"
    # The shell asks logind for a session when /run/systemd says systemd runs; this namespace's
    # own empty /run/systemd says it does not.
    mount -t tmpfs tmpfs /run/systemd 2>/dev/null || fail "cannot hide /run/systemd (needs root)"
    shell=(gnome-shell)
fi
shell_version="$("${shell[@]}" --version 2>/dev/null)" || fail "$("${shell[@]}" --version 2>&1)"
shell_version="${shell_version##* }"
export ORVANE_GNOME_SHELL_VERSION="$shell_version"

# --- Buses ------------------------------------------------------------------------------
start_bus system DBUS_SYSTEM_BUS_ADDRESS
export DBUS_SYSTEM_BUS_ADDRESS
start_bus session DBUS_SESSION_BUS_ADDRESS
export DBUS_SESSION_BUS_ADDRESS

# --- Settings and extensions ------------------------------------------------------------
uuids=()
if [[ -n "${ORVANE_GNOME_EXTENSIONS:-}" ]]; then
    mkdir -p "$XDG_DATA_HOME/gnome-shell/extensions"
    IFS=: read -r -a extension_dirs <<<"$ORVANE_GNOME_EXTENSIONS"
    for dir in "${extension_dirs[@]}"; do
        [[ -f "$dir/metadata.json" ]] || fail "no extension in $dir"
        uuid="$(basename "$dir")"
        cp -r "$dir" "$XDG_DATA_HOME/gnome-shell/extensions/$uuid"
        uuids+=("$uuid")
    done
fi
enabled="["
for uuid in "${uuids[@]}"; do
    enabled+="'$uuid', "
done
enabled="${enabled%, }]"
mkdir -p "$XDG_CONFIG_HOME/glib-2.0/settings"
cat >"$XDG_CONFIG_HOME/glib-2.0/settings/keyfile" <<SETTINGS
[org/gnome/desktop/interface]
enable-animations=false
toolkit-accessibility=true

[org/gnome/shell]
enabled-extensions=$enabled
disable-user-extensions=false
welcome-dialog-last-shown-version='999'
SETTINGS
# Read by the accessibility bus as it starts: it keeps its switch in these settings.
start_accessibility_bus

# --- The shell --------------------------------------------------------------------------
# No core files from a shell that crashes as it is ended.
ulimit -c 0
# In the private runtime folder: no other desktop sees it.
export WAYLAND_DISPLAY=orvane-wayland
"${shell[@]}" --headless --wayland --no-x11 --wayland-display "$WAYLAND_DISPLAY" \
    --virtual-monitor 1920x1080 --virtual-monitor 1920x1080 >"$shell_log" 2>&1 &
started_pids+=($!)
shell_pid=$!
export ORVANE_GNOME_SHELL_LOG="$shell_log"
shell_call() {
    gdbus call --session --timeout 5 -d org.gnome.Shell "$@"
}
wait_for 30 shell_call -o /org/gnome/Shell -m org.freedesktop.DBus.Properties.Get \
    org.gnome.Shell.Extensions ShellVersion || fail "the shell did not start"
for uuid in "${uuids[@]}"; do
    extension_enabled() {
        shell_call -o /org/gnome/Shell -m org.gnome.Shell.Extensions.GetExtensionInfo "$1" |
            grep -q "'state': <1.0>"
    }
    wait_for 10 extension_enabled "$uuid" ||
        fail "extension $uuid was not enabled: $(shell_call -o /org/gnome/Shell \
            -m org.gnome.Shell.Extensions.GetExtensionInfo "$uuid")"
done

# The session starts in the overview, shown once the start-up is complete (which the shell
# logs): close it then, through the test shell when it is loaded. The bridge answers Orvane
# alone, so with the bridge only (the package's check) the overview stays; nothing there needs
# it closed.
wait_for 30 grep -q "GNOME Shell started at" "$shell_log" || fail "the shell's start-up did not complete"
name_owned() {
    gdbus call --session --timeout 5 -d org.freedesktop.DBus -o /org/freedesktop/DBus \
        -m org.freedesktop.DBus.NameHasOwner "$1" | grep -q true
}
if [[ ${#uuids[@]} -gt 0 ]]; then
    wait_for 10 sh -c "$(declare -f name_owned); name_owned net.orvane.Bridge ||
        name_owned net.orvane.TestShell" || fail "neither the bridge nor the test shell is on the bus"
    if [[ " ${uuids[*]} " == *" test-input"* ]]; then
        wait_for 10 name_owned net.orvane.TestShell || fail "the test shell is not on the bus"
        gdbus call --session -d net.orvane.TestShell -o /net/orvane/TestShell \
            -m net.orvane.TestShell.Overview false >/dev/null || fail "could not close the overview"
    fi
fi
kill -0 "$shell_pid" 2>/dev/null || fail "the shell ended"

export ORVANE_TEST_DESKTOP=1
"$@"
