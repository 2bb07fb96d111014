// Part of the GNOME Shell bridge (bridge.js includes it): who is served. The bus daemon names
// the process behind a connection; only the installed orvane, unconfined, is answered.

function accessDenied(invocation, why) {
    invocation.return_dbus_error('org.freedesktop.DBus.Error.AccessDenied', why);
}

function readText(path) {
    try {
        const [ok, bytes] = GLib.file_get_contents(path);
        return ok ? new TextDecoder().decode(bytes) : null;
    } catch (e) {
        return null;
    }
}

function readLink(path) {
    try {
        return GLib.file_read_link(path);
    } catch (e) {
        return null;
    }
}

// The kernel's start time of a process (clock ticks since boot): a pid taken over by another
// process shows another one.
function startTime(pid) {
    const stat = readText(`/proc/${pid}/stat`);
    if (!stat)
        return null;
    // After the command name, which may hold spaces and parentheses itself.
    const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
    return fields[19] ?? null;
}

// What a pidfd refers to now: its pid, or -1 once that process ended.
function pidOfPidfd(fd) {
    const info = readText(`/proc/self/fdinfo/${fd}`);
    const match = info?.match(/^Pid:\s*(-?\d+)$/m);
    return match ? Number(match[1]) : null;
}

// Whether the process is Orvane as installed, unconfined: its executable is the installed
// program (or that program replaced by an upgrade while it runs), it shares the shell's user
// namespace (which no unprivileged sandbox does: Flatpak, bubblewrap, a bind mount over the
// path), and neither Flatpak nor snap confines it. A bus proxy in between is the proxy's
// process, refused by its executable.
function isOrvaneProcess(pid) {
    const before = startTime(pid);
    const exe = readLink(`/proc/${pid}/exe`);
    const installed = exe !== null && ORVANE_EXECUTABLES.some(path =>
        exe === path || exe === `${path} (deleted)`);
    if (!before || !installed)
        return false;
    const userNamespace = readLink(`/proc/${pid}/ns/user`);
    if (!userNamespace || userNamespace !== readLink('/proc/self/ns/user'))
        return false;
    if (GLib.file_test(`/proc/${pid}/root/.flatpak-info`, GLib.FileTest.EXISTS))
        return false;
    const cgroup = readText(`/proc/${pid}/cgroup`);
    if (cgroup === null || /\/snap\./.test(cgroup))
        return false;
    // Still the process read above, not another one under its pid.
    return startTime(pid) === before;
}

// The bus daemon's word on a connection: its user, its process and, where the daemon gives
// one, a pidfd of that process, which tells a pid reused since the connection was made.
function connectionCredentials(sender) {
    return new Promise((resolve, reject) => {
        Gio.DBus.session.call_with_unix_fd_list('org.freedesktop.DBus', '/org/freedesktop/DBus',
            'org.freedesktop.DBus', 'GetConnectionCredentials', new GLib.Variant('(s)', [sender]),
            new GLib.VariantType('(a{sv})'), Gio.DBusCallFlags.NONE, 2000, null, null,
            (connection, result) => {
                try {
                    const [reply, fds] = connection.call_with_unix_fd_list_finish(result);
                    const credentials = reply.get_child_value(0);
                    const value = (key, type) =>
                        credentials.lookup_value(key, new GLib.VariantType(type))?.unpack();
                    const fdIndex = value('ProcessFD', 'h');
                    const pidfd = fdIndex !== undefined && fds ? fds.get(fdIndex) : -1;
                    resolve({uid: value('UnixUserID', 'u'), pid: value('ProcessID', 'u'), pidfd});
                } catch (e) {
                    reject(e);
                }
            });
    });
}

async function isOrvaneConnection(sender) {
    const {uid, pid, pidfd} = await connectionCredentials(sender);
    try {
        if (uid === undefined || uid !== new Gio.Credentials().get_unix_user() || !pid)
            return false;
        if (pidfd >= 0 && pidOfPidfd(pidfd) !== pid)
            return false;
        if (!isOrvaneProcess(pid))
            return false;
        return pidfd < 0 || pidOfPidfd(pidfd) === pid;
    } finally {
        if (pidfd >= 0)
            GLib.close(pidfd);
    }
}
