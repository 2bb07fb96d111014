// Orvane's bridge into GNOME Shell: what Orvane needs of the shell on Wayland, offered on the
// session bus (net.orvane.Bridge1.xml). A thin bridge: it reports and carries out, Orvane decides.
//
// One source for both extension forms, made into one extension.js. The build puts each part
// named by an `//#include` line in its place, keeps the lines between `//#if legacy` and
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

//#include shell-state.js
//#include callers.js
//#include arguments.js

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
}

// The methods of net.orvane.Bridge1, by role.
//#include windows.js
//#include input.js
//#include surfaces.js

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
