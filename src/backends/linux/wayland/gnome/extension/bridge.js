// Orvane's bridge into GNOME Shell: what Orvane needs of the shell on Wayland, offered on the
// session bus (net.orvane.Bridge1.xml). A thin bridge: it reports and carries out, Orvane decides.
//
// One source for both extension forms. The build keeps the lines between `//#if legacy` and
// `//#endif` for GNOME 43-44 (imports), those between `//#if modules` and `//#endif` for
// GNOME 45 and later (ES modules), and puts the interface's XML in place of its marker.

//#if legacy
const {Gio, GLib, Meta, Shell, St, Clutter} = imports.gi;
const Main = imports.ui.main;
const ModalDialog = imports.ui.modalDialog;
const PanelMenu = imports.ui.panelMenu;
const PopupMenu = imports.ui.popupMenu;
const Config = imports.misc.config;
//#endif
//#if modules
import Clutter from 'gi://Clutter';
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import Meta from 'gi://Meta';
import Shell from 'gi://Shell';
import St from 'gi://St';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import * as ModalDialog from 'resource:///org/gnome/shell/ui/modalDialog.js';
import * as PanelMenu from 'resource:///org/gnome/shell/ui/panelMenu.js';
import * as PopupMenu from 'resource:///org/gnome/shell/ui/popupMenu.js';
import * as Config from 'resource:///org/gnome/shell/misc/config.js';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';
//#endif

const BRIDGE_XML = `@BRIDGE_XML@`;
// The one program served: the installed orvane, written in when the extension is installed.
const ORVANE_EXECUTABLES = @ORVANE_EXECUTABLES@;
const BUS_NAME = 'net.orvane.Bridge';
const OBJECT_PATH = '/net/orvane/Bridge';
const INTERFACE_NAME = 'net.orvane.Bridge1';
const INTERFACE_VERSION = 2;
// What a caller may hand the shell.
const MAX_ACCELERATOR_LENGTH = 64;
const MAX_ACCELERATORS = 8;
const MAX_ICON_BYTES = 256 * 1024;
const MAX_TEXT_LENGTH = 256;
const MAX_MENU_ITEMS = 64;
const MAX_DOT_DIAMETER = 256;
const MAX_INPUT_INTERVAL_MS = 10000;
// What the shell hands Orvane: titles and ids as long as a person reads them.
const MAX_SENT_TEXT_LENGTH = 1024;
const MAX_SENT_WINDOWS = 512;
// Callers remembered at once, trusted or refused; each is forgotten when it leaves the bus.
const MAX_CALLERS = 64;
// How long an activation may take before the shell names the window as focused.
const ACTIVATE_TIMEOUT_MS = 500;
const MIN_INPUT_INTERVAL_MS = 50;
// The idle time counts in whole milliseconds, read a moment apart from the clock.
const INPUT_AT_TOLERANCE_MS = 3;
const DOT_STYLE = 'background-color: rgba(255, 80, 64, 0.55); border: 2px solid rgba(255, 255, 255, 0.7);';

const WINDOW_TYPE_NAMES = new Map([
    [Meta.WindowType.NORMAL, 'normal'],
    [Meta.WindowType.DESKTOP, 'desktop'],
    [Meta.WindowType.DOCK, 'dock'],
    [Meta.WindowType.DIALOG, 'dialog'],
    [Meta.WindowType.MODAL_DIALOG, 'modal_dialog'],
    [Meta.WindowType.TOOLBAR, 'toolbar'],
    [Meta.WindowType.MENU, 'menu'],
    [Meta.WindowType.UTILITY, 'utility'],
    [Meta.WindowType.SPLASHSCREEN, 'splashscreen'],
    [Meta.WindowType.DROPDOWN_MENU, 'dropdown_menu'],
    [Meta.WindowType.POPUP_MENU, 'popup_menu'],
    [Meta.WindowType.TOOLTIP, 'tooltip'],
    [Meta.WindowType.NOTIFICATION, 'notification'],
    [Meta.WindowType.COMBO, 'combo'],
    [Meta.WindowType.DND, 'dnd'],
    [Meta.WindowType.OVERRIDE_OTHER, 'override_other'],
]);

function rectTuple(rect) {
    return [rect.x, rect.y, rect.width, rect.height];
}

function monitorManager() {
    return global.backend.get_monitor_manager
        ? global.backend.get_monitor_manager()
        : Meta.MonitorManager.get();
}

function isTransientOf(window, ancestor) {
    for (let w = window; w; w = w.get_transient_for()) {
        if (w === ancestor)
            return true;
    }
    return false;
}

function hasPasswordEntry(actor) {
    if (!actor.visible)
        return false;
    if (St.PasswordEntry && actor instanceof St.PasswordEntry)
        return true;
    if (actor instanceof Clutter.Text && actor.password_char !== 0)
        return true;
    return actor.get_children().some(hasPasswordEntry);
}

// What of the shell's own holds the keyboard; the overview's modal (on the stage) does not count.
function shellModal() {
    if (Main.sessionMode.isLocked)
        return 'locked';
    const stack = Main.modalActorFocusStack ?? [];
    for (let i = stack.length - 1; i >= 0; i--) {
        const actor = stack[i].actor;
        if (actor === global.stage)
            continue;
        if (actor instanceof ModalDialog.ModalDialog)
            return hasPasswordEntry(actor) ? 'password' : 'dialog';
        if (actor._delegate instanceof PopupMenu.PopupMenuBase)
            return 'menu';
        return '';
    }
    return '';
}

function accessDenied(invocation, why) {
    invocation.return_dbus_error('org.freedesktop.DBus.Error.AccessDenied', why);
}

function invalidArgs(why) {
    const error = new Error(why);
    error.dbusError = 'org.freedesktop.DBus.Error.InvalidArgs';
    return error;
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

function boundedText(text, what) {
    if (typeof text !== 'string' || text.length > MAX_TEXT_LENGTH)
        throw invalidArgs(`${what} is longer than ${MAX_TEXT_LENGTH}`);
    return text;
}

// "<Shift><Super>g": a chord of a key and modifiers, at least one of them more than Shift.
function checkAccelerator(accelerator) {
    if (accelerator.length > MAX_ACCELERATOR_LENGTH)
        throw invalidArgs('the accelerator is too long');
    const match = accelerator.match(/^((?:<[A-Za-z0-9]+>)+)([A-Za-z0-9_]+)$/);
    if (!match)
        throw invalidArgs('an accelerator is modifiers and one key');
    const modifiers = match[1].slice(1, -1).split('><').map(m => m.toLowerCase());
    const known = ['shift', 'control', 'ctrl', 'primary', 'alt', 'mod1', 'super', 'hyper',
        'meta'];
    if (modifiers.some(m => !known.includes(m)))
        throw invalidArgs('unknown modifier');
    if (!modifiers.some(m => m !== 'shift'))
        throw invalidArgs('an accelerator needs a modifier other than Shift');
}

class Bridge {
    enable() {
        this._connections = [];
        this._windowConnections = new Map();
        this._callers = new Map();
        this._activations = new Set();
        this._accelerators = new Set();
        this._windowsIdle = 0;
        this._stateIdle = 0;
        this._inputTimer = 0;
        this._inputInterval = 0;
        this._lastInput = null;
        this._keyboard = null;
        this._dot = null;
        this._indicator = null;
        this._state = this._currentState();

        this._info = Gio.DBusNodeInfo.new_for_xml(BRIDGE_XML).lookup_interface(INTERFACE_NAME);
        // Every method is answered here, once the caller is known to be Orvane.
        const methods = {};
        for (const method of this._info.methods) {
            const signature = `(${method.out_args.map(arg => arg.signature).join('')})`;
            methods[`${method.name}Async`] = (params, invocation) =>
                this._serve(method.name, signature, params, invocation);
        }
        this._impl = Gio.DBusExportedObject.wrapJSObject(BRIDGE_XML, methods);
        this._impl.export(Gio.DBus.session, OBJECT_PATH);
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, BUS_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null);

        const display = global.display;
        this._connect(display, 'window-created', (_d, window) => {
            this._trackWindow(window);
            this._windowsChanged();
        });
        this._connect(display, 'restacked', () => this._windowsChanged());
        this._connect(display, 'notify::focus-window', () => this._stateChanged());
        this._connect(display, 'accelerator-activated', (_d, action) => {
            // Never a chord typed into the shell's own dialogs.
            if (this._accelerators.has(action) && shellModal() === '')
                this._emit('AcceleratorActivated', new GLib.Variant('(u)', [action]));
        });
        this._connect(global.workspace_manager, 'active-workspace-changed',
            () => this._windowsChanged());
        this._connect(Main.layoutManager, 'monitors-changed',
            () => this._emit('MonitorsChanged', null));
        for (const signal of ['showing', 'shown', 'hiding', 'hidden'])
            this._connect(Main.overview, signal, () => this._stateChanged());
        this._connect(Main.sessionMode, 'updated', () => this._stateChanged());
        // Every modal push and pop moves the key focus.
        this._connect(global.stage, 'notify::key-focus', () => this._stateChanged());

        for (const actor of global.get_window_actors())
            this._trackWindow(actor.get_meta_window());
    }

    disable() {
        for (const pending of [...this._activations])
            pending.finish(false);
        this._activations.clear();
        for (const [object, id] of this._connections)
            object.disconnect(id);
        this._connections = [];
        for (const [window, ids] of this._windowConnections) {
            for (const id of ids)
                window.disconnect(id);
        }
        this._windowConnections.clear();
        for (const sender of [...this._callers.keys()])
            this._forget(sender);
        for (const action of this._accelerators)
            global.display.ungrab_accelerator(action);
        this._accelerators.clear();
        for (const source of [this._windowsIdle, this._stateIdle, this._inputTimer]) {
            if (source)
                GLib.source_remove(source);
        }
        this._windowsIdle = this._stateIdle = this._inputTimer = 0;
        this._dot?.destroy();
        this._dot = null;
        this._indicator?.destroy();
        this._indicator = null;
        this._keyboard = null;
        Gio.bus_unown_name(this._nameId);
        this._impl.unexport();
        this._impl = null;
    }

    // --- Who is served ------------------------------------------------------------------

    // A call reaches this object by any name the shell's connection owns; only those sent to
    // the bridge's own name, by Orvane, are answered. A caller already checked is answered
    // at once, without waiting for a turn of the main loop.
    _serve(name, signature, params, invocation) {
        const sender = invocation.get_sender();
        if (!this._impl) {
            accessDenied(invocation, `${name}: the bridge is off`);
            return;
        }
        if (invocation.get_message().get_destination() !== BUS_NAME) {
            accessDenied(invocation, `${name} is only answered at ${BUS_NAME}`);
            return;
        }
        const caller = this._caller(sender);
        if (caller && caller.verdict === null) {
            caller.trusted.then(() => this._serve(name, signature, params, invocation));
            return;
        }
        if (!caller || !caller.verdict) {
            accessDenied(invocation, `${name} is for Orvane alone`);
            return;
        }
        const fail = e => {
            if (e.dbusError) {
                invocation.return_dbus_error(e.dbusError, e.message);
            } else {
                logError(e, `Orvane bridge: ${name} failed`);
                invocation.return_dbus_error('org.freedesktop.DBus.Error.Failed', String(e));
            }
        };
        const answer = result => invocation.return_value(
            signature === '()' ? null : new GLib.Variant(signature, result));
        try {
            const result = this[`_${name}`](params, sender, caller);
            if (result instanceof Promise)
                result.then(answer, fail);
            else
                answer(result);
        } catch (e) {
            fail(e);
        }
    }

    // A caller is checked once, whatever it calls, and remembered, trusted or not, until it
    // leaves the bus; then its grabs and its sampling end with it.
    _caller(sender) {
        let caller = this._callers.get(sender);
        if (caller)
            return caller;
        if (this._callers.size >= MAX_CALLERS) {
            // Room is made by forgetting a refused caller, so that many of them keep no one out.
            const refused = [...this._callers].find(([, c]) => c.verdict === false);
            if (!refused)
                return null;
            this._forget(refused[0]);
        }
        caller = {interval: 0, actions: new Set(), follows: false, watchId: 0, verdict: null};
        caller.trusted = isOrvaneConnection(sender).catch(e => {
            log(`Orvane bridge: cannot check ${sender}: ${e.message}`);
            return false;
        }).then(verdict => {
            caller.verdict = verdict;
            return verdict;
        });
        caller.watchId = Gio.bus_watch_name_on_connection(Gio.DBus.session, sender,
            Gio.BusNameWatcherFlags.NONE, null, () => this._forget(sender));
        this._callers.set(sender, caller);
        return caller;
    }

    _forget(sender) {
        const caller = this._callers.get(sender);
        if (!caller)
            return;
        this._callers.delete(sender);
        Gio.bus_unwatch_name(caller.watchId);
        for (const action of caller.actions) {
            global.display.ungrab_accelerator(action);
            this._accelerators.delete(action);
        }
        this._restartInputTimer();
    }

    // Signals go to Orvane's connections that follow the bridge, never to the whole bus.
    _emit(name, params) {
        for (const [sender, caller] of this._callers) {
            if (!caller.follows)
                continue;
            try {
                Gio.DBus.session.emit_signal(sender, OBJECT_PATH, INTERFACE_NAME, name, params);
            } catch (e) {
                logError(e, `Orvane bridge: cannot send ${name}`);
            }
        }
    }

    // --- What the shell tells -----------------------------------------------------------

    _connect(object, signal, handler) {
        this._connections.push([object, object.connect(signal, handler)]);
    }

    _trackWindow(window) {
        if (!window || this._windowConnections.has(window))
            return;
        const changed = () => this._windowsChanged();
        const ids = ['position-changed', 'size-changed', 'notify::title', 'notify::minimized',
            'notify::above', 'workspace-changed'].map(signal => window.connect(signal, changed));
        ids.push(window.connect('unmanaged', () => {
            for (const id of this._windowConnections.get(window) ?? [])
                window.disconnect(id);
            this._windowConnections.delete(window);
            this._windowsChanged();
        }));
        this._windowConnections.set(window, ids);
    }

    // At most one WindowsChanged per main-loop turn.
    _windowsChanged() {
        if (this._windowsIdle)
            return;
        this._windowsIdle = GLib.idle_add(GLib.PRIORITY_DEFAULT, () => {
            this._windowsIdle = 0;
            this._emit('WindowsChanged', null);
            return GLib.SOURCE_REMOVE;
        });
    }

    _currentState() {
        return {
            FocusWindow: global.display.focus_window?.get_id() ?? 0,
            OverviewActive: Main.overview.visible,
            ShellModal: shellModal(),
        };
    }

    _stateEntries(state) {
        const types = {FocusWindow: 't', OverviewActive: 'b', ShellModal: 's', ShellVersion: 's'};
        const entries = {};
        for (const [key, value] of Object.entries(state))
            entries[key] = new GLib.Variant(types[key], value);
        return entries;
    }

    // Focus, overview and modal state, compared once the shell has settled this turn.
    _stateChanged() {
        if (this._stateIdle)
            return;
        this._stateIdle = GLib.idle_add(GLib.PRIORITY_DEFAULT, () => {
            this._stateIdle = 0;
            const state = this._currentState();
            const changed = {};
            for (const [key, value] of Object.entries(state)) {
                if (this._state[key] !== value)
                    changed[key] = value;
            }
            this._state = state;
            if (Object.keys(changed).length)
                this._emit('StateChanged', new GLib.Variant('(a{sv})', [this._stateEntries(changed)]));
            return GLib.SOURCE_REMOVE;
        });
    }

    _windowById(id) {
        return global.get_window_actors()
            .map(actor => actor.get_meta_window())
            .find(window => window && window.get_id() === id) ?? null;
    }

    _restartInputTimer() {
        const intervals = [...this._callers.values()].map(c => c.interval).filter(i => i > 0);
        const interval = intervals.length ? Math.min(...intervals) : 0;
        if (interval === this._inputInterval)
            return;
        if (this._inputTimer)
            GLib.source_remove(this._inputTimer);
        this._inputTimer = 0;
        this._inputInterval = interval;
        this._lastInput = null;
        if (!interval)
            return;
        this._inputTimer = GLib.timeout_add(GLib.PRIORITY_DEFAULT, interval, () => {
            this._sampleInput();
            return GLib.SOURCE_CONTINUE;
        });
        this._sampleInput();
    }

    // Idle time growing on its own is no change; new input is, seen as the moment of the
    // last input (now less the idle time) moving on.
    _sampleInput() {
        const [x, y, state] = global.get_pointer();
        const idle = Math.min(global.backend.get_core_idle_monitor().get_idletime(), 0xffffffff);
        const inputAt = GLib.get_monotonic_time() / 1000 - idle;
        const last = this._lastInput;
        this._lastInput = {x, y, state, inputAt};
        if (last && last.x === x && last.y === y && last.state === state &&
            inputAt < last.inputAt + INPUT_AT_TOLERANCE_MS)
            return;
        this._emit('Input', new GLib.Variant('(iiuu)', [x, y, state, idle]));
    }

    // --- net.orvane.Bridge1, for Orvane alone ---------------------------------------------

    _Follow(_params, _sender, caller) {
        caller.follows = true;
    }

    _GetVersion() {
        return [INTERFACE_VERSION];
    }

    _GetState() {
        return [this._stateEntries({...this._currentState(), ShellVersion: Config.PACKAGE_VERSION})];
    }

    _SetOverviewActive([active]) {
        if (active)
            Main.overview.show();
        else
            Main.overview.hide();
    }

    _GetMonitors() {
        return new Promise(resolve => {
            Gio.DBus.session.call('org.gnome.Mutter.DisplayConfig',
                '/org/gnome/Mutter/DisplayConfig', 'org.gnome.Mutter.DisplayConfig',
                'GetCurrentState', null, null, Gio.DBusCallFlags.NONE, 2000, null,
                (connection, result) => resolve(this._monitors(connection, result)));
        });
    }

    _monitors(connection, result) {
        const names = new Map();
        try {
            const [, monitors] = connection.call_finish(result).recursiveUnpack();
            const manager = monitorManager();
            for (const [[connector, vendor, product], , properties] of monitors) {
                const index = manager.get_monitor_for_connector(connector);
                const known = s => (s && s !== 'unknown' ? s : '');
                const name = known(product) || known(vendor) ||
                    known(properties['display-name']) || connector;
                if (index >= 0)
                    names.set(index, [connector, name]);
            }
        } catch (e) {
            logError(e, 'Orvane bridge: no monitor names from DisplayConfig');
        }
        const monitors = Main.layoutManager.monitors.map(m => {
            const [connector, name] = names.get(m.index) ??
                [`Monitor-${m.index}`, `Monitor-${m.index}`];
            return [m.x, m.y, m.width, m.height, connector.slice(0, MAX_SENT_TEXT_LENGTH),
                name.slice(0, MAX_SENT_TEXT_LENGTH), m.index === Main.layoutManager.primaryIndex];
        });
        return [monitors];
    }

    _GetWindows() {
        const workspace = global.workspace_manager.get_active_workspace();
        const tracker = Shell.WindowTracker.get_default();
        const windows = global.get_window_actors()
            .map(actor => actor.get_meta_window())
            .filter(w => w && (w.is_on_all_workspaces() || !w.get_workspace() ||
                               w.located_on_workspace(workspace)));
        const text = s => (s ?? '').slice(0, MAX_SENT_TEXT_LENGTH);
        return [global.display.sort_windows_by_stacking(windows).reverse()
            .slice(0, MAX_SENT_WINDOWS).map(w => {
                const app = tracker.get_window_app(w);
                const appId = app && !app.is_window_backed()
                    ? app.get_id().replace(/\.desktop$/, '') : w.get_wm_class() ?? '';
                return [w.get_id(), Math.max(w.get_pid(), 0), text(appId), text(w.get_title()),
                    WINDOW_TYPE_NAMES.get(w.get_window_type()) ?? 'normal',
                    rectTuple(w.get_frame_rect()), rectTuple(w.get_buffer_rect()),
                    w.get_monitor(), w.is_above(), w.minimized];
            })];
    }

    _ActivateWindow([id]) {
        const window = this._windowById(id);
        if (!window)
            return [false];
        const focused = () => {
            const focus = global.display.focus_window;
            return focus !== null && isTransientOf(focus, window);
        };
        const time = global.display.get_current_time_roundtrip();
        if (window.get_workspace() && !window.is_on_all_workspaces()) {
            Main.activateWindow(window, time);
        } else {
            window.activate(time);
            Main.overview.hide();
        }
        if (focused())
            return [true];
        return new Promise(resolve => {
            let focusId = 0, timeoutId = 0;
            const pending = {
                finish: activated => {
                    if (focusId)
                        global.display.disconnect(focusId);
                    if (timeoutId)
                        GLib.source_remove(timeoutId);
                    focusId = timeoutId = 0;
                    this._activations.delete(pending);
                    resolve([activated]);
                },
            };
            this._activations.add(pending);
            focusId = global.display.connect('notify::focus-window', () => {
                if (focused())
                    pending.finish(true);
            });
            timeoutId = GLib.timeout_add(GLib.PRIORITY_DEFAULT, ACTIVATE_TIMEOUT_MS, () => {
                timeoutId = 0;
                pending.finish(focused());
                return GLib.SOURCE_REMOVE;
            });
        });
    }

    _GetPointer() {
        const [x, y, state] = global.get_pointer();
        return [x, y, state];
    }

    _WarpPointer([x, y]) {
        Clutter.get_default_backend().get_default_seat().warp_pointer(x, y);
    }

    _WatchInput([interval], _sender, caller) {
        caller.interval = interval > 0
            ? Math.min(Math.max(interval, MIN_INPUT_INTERVAL_MS), MAX_INPUT_INTERVAL_MS) : 0;
        this._restartInputTimer();
    }

    _PostKey([keyval, pressed]) {
        try {
            if (!this._keyboard) {
                this._keyboard = Clutter.get_default_backend().get_default_seat()
                    .create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
            }
            this._keyboard.notify_keyval(GLib.get_monotonic_time(), keyval,
                pressed ? Clutter.KeyState.PRESSED : Clutter.KeyState.RELEASED);
            return [true];
        } catch (e) {
            logError(e, 'Orvane bridge: could not post a key');
            return [false];
        }
    }

    // Only in the normal action mode: never in the overview's search, a shell dialog, a menu
    // or on the lock screen.
    _GrabAccelerator([accelerator], _sender, caller) {
        checkAccelerator(accelerator);
        if (caller.actions.size >= MAX_ACCELERATORS)
            throw invalidArgs('too many accelerators');
        const action = global.display.grab_accelerator(accelerator, Meta.KeyBindingFlags.NONE);
        if (action !== Meta.KeyBindingAction.NONE) {
            Main.wm.allowKeybinding(Meta.external_binding_name_for_action(action),
                Shell.ActionMode.NORMAL);
            this._accelerators.add(action);
            caller.actions.add(action);
        }
        return [action];
    }

    _UngrabAccelerator([action], _sender, caller) {
        let released = false;
        if (caller.actions.has(action)) {
            released = global.display.ungrab_accelerator(action);
            caller.actions.delete(action);
            this._accelerators.delete(action);
        }
        return [released];
    }

    _ShowDot([x, y, diameter]) {
        const uiGroup = Main.layoutManager.uiGroup;
        if (!this._dot) {
            this._dot = new St.Widget({
                name: 'orvane-gaze-dot', reactive: false, can_focus: false, track_hover: false,
            });
            uiGroup.add_child(this._dot);
            // Whatever the shell adds later (dialogs, menus) goes below the dot.
            const raise = (_group, child) => {
                if (child !== this._dot)
                    uiGroup.set_child_above_sibling(this._dot, null);
            };
            // 'child-added' from GNOME 45 on, the container's 'actor-added' before.
            let addedId;
            try {
                addedId = uiGroup.connect('child-added', raise);
            } catch (e) {
                addedId = uiGroup.connect('actor-added', raise);
            }
            this._dot.connect('destroy', () => uiGroup.disconnect(addedId));
        }
        const size = Math.min(Math.max(diameter, 1), MAX_DOT_DIAMETER);
        this._dot.set_style(`${DOT_STYLE} border-radius: ${size / 2}px;`);
        this._dot.set_size(size, size);
        this._dot.set_position(x - size / 2, y - size / 2);
        uiGroup.set_child_above_sibling(this._dot, null);
        this._dot.show();
    }

    _HideDot() {
        this._dot?.hide();
    }

    // The icon comes as the image's bytes: the shell reads no file a caller names.
    _SetIndicator([icon, tooltip, items]) {
        if (icon.length === 0 || icon.length > MAX_ICON_BYTES)
            throw invalidArgs(`the icon must be 1 to ${MAX_ICON_BYTES} bytes`);
        boundedText(tooltip, 'the tooltip');
        if (items.length > MAX_MENU_ITEMS)
            throw invalidArgs(`more than ${MAX_MENU_ITEMS} menu items`);
        for (const [id, label] of items) {
            boundedText(id, 'a menu item id');
            boundedText(label, 'a menu item label');
        }
        if (!this._indicator) {
            this._indicator = new PanelMenu.Button(0.0, 'Orvane', false);
            this._indicatorIcon = new St.Icon({style_class: 'system-status-icon'});
            this._indicator.add_child(this._indicatorIcon);
            this._indicator.menu.connect('open-state-changed', (_m, open) => {
                if (open)
                    this._emit('IndicatorOpening', null);
            });
            Main.panel.addToStatusArea('orvane-indicator', this._indicator);
        }
        this._indicatorIcon.gicon = Gio.BytesIcon.new(new GLib.Bytes(icon));
        // The top bar shows no tooltips; the text still names the button to screen readers.
        this._indicator.accessible_name = tooltip;
        const menu = this._indicator.menu;
        menu.removeAll();
        for (const [id, label, enabled, checked] of items) {
            if (id === '') {
                menu.addMenuItem(new PopupMenu.PopupSeparatorMenuItem());
                continue;
            }
            const item = checked < 0
                ? new PopupMenu.PopupMenuItem(label)
                : new PopupMenu.PopupSwitchMenuItem(label, checked === 1);
            item.setSensitive(enabled);
            item.connect('activate', () =>
                this._emit('IndicatorActivated', new GLib.Variant('(s)', [id])));
            menu.addMenuItem(item);
        }
    }

    _ClearIndicator() {
        this._indicator?.destroy();
        this._indicator = null;
    }
}

//#if legacy
class BridgeExtension {
    enable() {
        this._bridge = new Bridge();
        this._bridge.enable();
    }

    disable() {
        this._bridge.disable();
        this._bridge = null;
    }
}

function init() {
    return new BridgeExtension();
}
//#endif
//#if modules
export default class BridgeExtension extends Extension {
    enable() {
        this._bridge = new Bridge();
        this._bridge.enable();
    }

    disable() {
        this._bridge.disable();
        this._bridge = null;
    }
}
//#endif
