# Shared by the throw-away desktops (test-desktop.sh and the Wayland ones); sourced, not run.
# The sourcing script sets desktop_name (for messages) before sourcing and has its arguments
# in "$@" when it calls enter_private_namespace "$@".

# A private PID namespace makes clean-up total: when this script's namespace ends, the kernel
# ends every process left in it, whatever daemonised itself. Fall back to walking our own
# process tree when namespaces are not available (an unprivileged user without user
# namespaces). The namespace brings a private mount namespace too (--mount-proc), which
# ORVANE_TEST_DESKTOP_NS=private then tells.
enter_private_namespace() {
    if [[ -z "${ORVANE_TEST_DESKTOP_NS:-}" ]]; then
        export ORVANE_TEST_DESKTOP_NS=1
        if unshare --pid --fork --kill-child --mount-proc true 2>/dev/null; then
            ORVANE_TEST_DESKTOP_NS=private
            exec unshare --pid --fork --kill-child --mount-proc "$BASH" "$0" "$@"
        elif unshare --user --map-root-user --pid --fork --kill-child --mount-proc true 2>/dev/null; then
            ORVANE_TEST_DESKTOP_NS=private
            exec unshare --user --map-root-user --pid --fork --kill-child --mount-proc \
                "$BASH" "$0" "$@"
        fi
    fi
}

# Called by teardown before the work folder goes, on failure only (e.g. to print a log).
on_failure() { :; }

# A prefix that runs the desktop's own programs (the buses) as the desktop's user, for a
# compositor that refuses root; empty: as whoever runs the script.
desktop_user=()

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
    [[ $status -ne 0 ]] && on_failure
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
    # The passwd file give_login_shell mounts lies in the work folder.
    [[ -n "${passwd_copy:-}" ]] && umount /etc/passwd 2>/dev/null
    rm -rf "$workdir"
    exit "$status"
}
# The work folder and the traps that end everything started here; after
# enter_private_namespace, whose exec would leave the folder behind.
begin_desktop() {
    workdir="$(mktemp -d "${TMPDIR:-/tmp}/orvane-desktop.XXXXXX")"
    started_pids=()
    trap teardown EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    trap 'exit 129' HUP
}

fail() {
    echo "$desktop_name: $*" >&2
    exit 1
}

# Polls `check` until it succeeds or `seconds` pass. Start-up only; tests wait on events.
wait_for() {
    local seconds="$1"
    shift
    local deadline=$((SECONDS + seconds))
    until "$@" >/dev/null 2>&1; do
        [[ $SECONDS -ge $deadline ]] && return 1
        sleep 0.02
    done
}

# HOME and the XDG folders private to this desktop; settings in a key file there.
use_private_home() {
    mkdir -p "$workdir/home" "$workdir/runtime" "$workdir/config" "$workdir/data" "$workdir/cache"
    chmod 700 "$workdir/runtime"
    export HOME="$workdir/home"
    export XDG_RUNTIME_DIR="$workdir/runtime"
    export XDG_CONFIG_HOME="$workdir/config"
    export XDG_DATA_HOME="$workdir/data"
    export XDG_CACHE_HOME="$workdir/cache"
    # A file in the private config folder: settings outlive the processes that set them, as
    # in a real session (a restarted accessibility bus reads back that it is switched on).
    export GSETTINGS_BACKEND=keyfile
    export GTK_USE_PORTAL=0
    export GIO_USE_VFS=local
    # Toolkits find out from the accessibility bus switch alone, as in a user's session.
    unset QT_LINUX_ACCESSIBILITY_ALWAYS_ON QT_ACCESSIBILITY GNOME_ACCESSIBILITY ACCESSIBILITY_ENABLED
    unset NO_AT_BRIDGE WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS SESSION_MANAGER
    unset XAUTHORITY DISPLAY
}

# Skips the desktop (77) unless the root file system `root` holds each of the programs after it:
# its compositor runs from there by chroot. Both sides share /tmp, /dev and /proc, so what the
# compositor must see of ours is put under /tmp.
require_root() {
    local root="$1" program
    shift
    for program in "$@"; do
        if [[ ! -x "$root/$program" ]]; then
            echo "$desktop_name: skipped: no $program in $root (scripts/debian13-root.sh makes it)" >&2
            exit 77
        fi
    done
    export TMPDIR=/tmp
}

# What every Wayland desktop does first, once the sourcing script has its root: the private
# namespace, the work folder, a private home, and the session's environment for the programs
# it starts, naming `current_desktop`. Arguments: current_desktop "$@".
begin_wayland_desktop() {
    local current_desktop="$1"
    shift
    enter_private_namespace "$@"
    begin_desktop
    use_private_home
    export XDG_SESSION_TYPE=wayland
    export XDG_CURRENT_DESKTOP="$current_desktop"
    export GDK_BACKEND=wayland
    export QT_QPA_PLATFORM=wayland
}

# Gives user `uid` the login shell /bin/bash in the passwd database this desktop's programs
# read, in this desktop's mount namespace alone: an unprivileged account such as 65534 has
# nologin, and a program that runs its commands through the user's login shell (Terminator does,
# whatever command it is given) then ends them at once, where a real user has a shell.
give_login_shell() {
    local uid="$1"
    [[ "${ORVANE_TEST_DESKTOP_NS:-}" == private ]] || fail "no private mount namespace for a passwd file of its own"
    passwd_copy="$workdir/passwd"
    awk -F: -v OFS=: -v uid="$uid" '$3 == uid { $7 = "/bin/bash" } { print }' /etc/passwd >"$passwd_copy" &&
        chmod 644 "$passwd_copy" && mount --bind "$passwd_copy" /etc/passwd ||
        fail "cannot give user $uid a login shell"
}

# Starts a bus daemon of the session kind and stores its address in the variable named
# `variable`; `name` names its log.
start_bus() {
    local name="$1" variable="$2" busfd
    exec {busfd}>"$workdir/$name.address"
    "${desktop_user[@]}" dbus-daemon --session --nofork --nopidfile --print-address="$busfd" \
        >"$workdir/$name.log" 2>&1 &
    started_pids+=($!)
    exec {busfd}>&-
    wait_for 10 test -s "$workdir/$name.address" || fail "dbus-daemon ($name) did not start"
    printf -v "$variable" '%s' "$(head -n1 "$workdir/$name.address")"
}

# The accessibility bus, started and switched on, on the session bus already exported: the
# session of a user who has let Orvane switch it on (its set-up does, through this same
# org.a11y.Status IsEnabled property, which the launcher also keeps in the
# toolkit-accessibility setting). Switched on before any client starts, because Qt, Chromium
# and Firefox read the switch when they start, and do not expose their widgets without it.
start_accessibility_bus() {
    "${desktop_user[@]}" /usr/libexec/at-spi-bus-launcher --launch-immediately >"$workdir/atspi.log" 2>&1 &
    started_pids+=($!)
    "${desktop_user[@]}" gdbus wait --session --timeout 10 org.a11y.Bus || fail "the accessibility bus did not start"
    "${desktop_user[@]}" gdbus call --session -d org.a11y.Bus -o /org/a11y/bus \
        -m org.freedesktop.DBus.Properties.Set org.a11y.Status IsEnabled '<true>' >/dev/null ||
        fail "could not enable the accessibility bus"
}
