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
const BUS_NAME = 'net.orvane.Bridge';
const OBJECT_PATH = '/net/orvane/Bridge';
const INTERFACE_VERSION = 1;
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

class Bridge {
    enable() {
        this._connections = [];
        this._windowConnections = new Map();
        this._clients = new Map();
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
        this._focusWindow = this.FocusWindow;
        this._overviewActive = this.OverviewActive;
        this._shellModal = shellModal();

        this._impl = Gio.DBusExportedObject.wrapJSObject(BRIDGE_XML, this);
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
            if (this._accelerators.has(action))
                this._impl.emit_signal('AcceleratorActivated', new GLib.Variant('(u)', [action]));
        });
        this._connect(global.workspace_manager, 'active-workspace-changed',
            () => this._windowsChanged());
        this._connect(Main.layoutManager, 'monitors-changed',
            () => this._impl.emit_signal('MonitorsChanged', null));
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
        for (const sender of [...this._clients.keys()])
            this._dropClient(sender);
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
            this._impl.emit_signal('WindowsChanged', null);
            return GLib.SOURCE_REMOVE;
        });
    }

    // Focus, overview and modal state, compared once the shell has settled this turn.
    _stateChanged() {
        if (this._stateIdle)
            return;
        this._stateIdle = GLib.idle_add(GLib.PRIORITY_DEFAULT, () => {
            this._stateIdle = 0;
            this._emitIfChanged('FocusWindow', '_focusWindow', 't', this.FocusWindow);
            this._emitIfChanged('OverviewActive', '_overviewActive', 'b', this.OverviewActive);
            this._emitIfChanged('ShellModal', '_shellModal', 's', shellModal());
            return GLib.SOURCE_REMOVE;
        });
    }

    _emitIfChanged(property, field, type, value) {
        if (this[field] === value)
            return;
        this[field] = value;
        this._impl.emit_property_changed(property, new GLib.Variant(type, value));
    }

    _windowById(id) {
        return global.get_window_actors()
            .map(actor => actor.get_meta_window())
            .find(window => window && window.get_id() === id) ?? null;
    }

    // The callers on the bus that asked for input samples or hold accelerators; each is
    // forgotten, and its grabs released, when it leaves the bus.
    _client(sender) {
        let client = this._clients.get(sender);
        if (!client) {
            client = {interval: 0, actions: new Set(), watchId: 0};
            client.watchId = Gio.bus_watch_name_on_connection(Gio.DBus.session, sender,
                Gio.BusNameWatcherFlags.NONE, null, () => this._dropClient(sender));
            this._clients.set(sender, client);
        }
        return client;
    }

    _dropClient(sender) {
        const client = this._clients.get(sender);
        if (!client)
            return;
        this._clients.delete(sender);
        Gio.bus_unwatch_name(client.watchId);
        for (const action of client.actions) {
            global.display.ungrab_accelerator(action);
            this._accelerators.delete(action);
        }
        this._restartInputTimer();
    }

    _restartInputTimer() {
        const intervals = [...this._clients.values()].map(c => c.interval).filter(i => i > 0);
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
        this._impl.emit_signal('Input', new GLib.Variant('(iiuu)', [x, y, state, idle]));
    }

    // --- net.orvane.Bridge1 ------------------------------------------------------------

    get Version() {
        return INTERFACE_VERSION;
    }

    get ShellVersion() {
        return Config.PACKAGE_VERSION;
    }

    GetMonitorsAsync(_params, invocation) {
        Gio.DBus.session.call('org.gnome.Mutter.DisplayConfig', '/org/gnome/Mutter/DisplayConfig',
            'org.gnome.Mutter.DisplayConfig', 'GetCurrentState', null, null,
            Gio.DBusCallFlags.NONE, 2000, null, (connection, result) => {
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
                    return [m.x, m.y, m.width, m.height, connector, name,
                        m.index === Main.layoutManager.primaryIndex];
                });
                invocation.return_value(new GLib.Variant('(a(iiiissb))', [monitors]));
            });
    }

    GetWindows() {
        const workspace = global.workspace_manager.get_active_workspace();
        const tracker = Shell.WindowTracker.get_default();
        const windows = global.get_window_actors()
            .map(actor => actor.get_meta_window())
            .filter(w => w && (w.is_on_all_workspaces() || !w.get_workspace() ||
                               w.located_on_workspace(workspace)));
        return global.display.sort_windows_by_stacking(windows).reverse().map(w => {
            const app = tracker.get_window_app(w);
            const appId = app && !app.is_window_backed()
                ? app.get_id().replace(/\.desktop$/, '') : w.get_wm_class() ?? '';
            return [w.get_id(), Math.max(w.get_pid(), 0), appId, w.get_title() ?? '',
                WINDOW_TYPE_NAMES.get(w.get_window_type()) ?? 'normal',
                rectTuple(w.get_frame_rect()), rectTuple(w.get_buffer_rect()),
                w.get_monitor(), w.is_above(), w.minimized];
        });
    }

    get FocusWindow() {
        return global.display.focus_window?.get_id() ?? 0;
    }

    ActivateWindowAsync([id], invocation) {
        const window = this._windowById(id);
        if (!window) {
            invocation.return_value(new GLib.Variant('(b)', [false]));
            return;
        }
        const focused = () => {
            const focus = global.display.focus_window;
            return focus !== null && isTransientOf(focus, window);
        };
        let focusId = 0, timeoutId = 0;
        const pending = {
            finish: activated => {
                if (focusId)
                    global.display.disconnect(focusId);
                if (timeoutId)
                    GLib.source_remove(timeoutId);
                focusId = timeoutId = 0;
                this._activations.delete(pending);
                invocation.return_value(new GLib.Variant('(b)', [activated]));
            },
        };
        const time = global.display.get_current_time_roundtrip();
        if (window.get_workspace() && !window.is_on_all_workspaces()) {
            Main.activateWindow(window, time);
        } else {
            window.activate(time);
            Main.overview.hide();
        }
        if (focused()) {
            invocation.return_value(new GLib.Variant('(b)', [true]));
            return;
        }
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
    }

    get OverviewActive() {
        return Main.overview.visible;
    }

    set OverviewActive(active) {
        if (active)
            Main.overview.show();
        else
            Main.overview.hide();
    }

    get ShellModal() {
        return shellModal();
    }

    GetPointer() {
        const [x, y, state] = global.get_pointer();
        return [x, y, state];
    }

    WarpPointer(x, y) {
        Clutter.get_default_backend().get_default_seat().warp_pointer(x, y);
    }

    WatchInputAsync([interval], invocation) {
        const sender = invocation.get_sender();
        if (interval > 0)
            this._client(sender).interval = Math.max(interval, MIN_INPUT_INTERVAL_MS);
        else if (this._clients.has(sender))
            this._clients.get(sender).interval = 0;
        this._restartInputTimer();
        invocation.return_value(null);
    }

    PostKey(keyval, pressed) {
        try {
            if (!this._keyboard) {
                this._keyboard = Clutter.get_default_backend().get_default_seat()
                    .create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
            }
            this._keyboard.notify_keyval(GLib.get_monotonic_time(), keyval,
                pressed ? Clutter.KeyState.PRESSED : Clutter.KeyState.RELEASED);
            return true;
        } catch (e) {
            logError(e, 'Orvane bridge: could not post a key');
            return false;
        }
    }

    GrabAcceleratorAsync([accelerator], invocation) {
        const action = global.display.grab_accelerator(accelerator, Meta.KeyBindingFlags.NONE);
        if (action !== Meta.KeyBindingAction.NONE) {
            Main.wm.allowKeybinding(Meta.external_binding_name_for_action(action),
                Shell.ActionMode.ALL);
            this._accelerators.add(action);
            this._client(invocation.get_sender()).actions.add(action);
        }
        invocation.return_value(new GLib.Variant('(u)', [action]));
    }

    UngrabAcceleratorAsync([action], invocation) {
        const client = this._clients.get(invocation.get_sender());
        let released = false;
        if (client?.actions.has(action)) {
            released = global.display.ungrab_accelerator(action);
            client.actions.delete(action);
            this._accelerators.delete(action);
        }
        invocation.return_value(new GLib.Variant('(b)', [released]));
    }

    ShowDot(x, y, diameter) {
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
        const size = Math.max(diameter, 1);
        this._dot.set_style(`${DOT_STYLE} border-radius: ${size / 2}px;`);
        this._dot.set_size(size, size);
        this._dot.set_position(x - size / 2, y - size / 2);
        uiGroup.set_child_above_sibling(this._dot, null);
        this._dot.show();
    }

    HideDot() {
        this._dot?.hide();
    }

    SetIndicator(icon, tooltip, items) {
        if (!this._indicator) {
            this._indicator = new PanelMenu.Button(0.0, 'Orvane', false);
            this._indicatorIcon = new St.Icon({style_class: 'system-status-icon'});
            this._indicator.add_child(this._indicatorIcon);
            this._indicator.menu.connect('open-state-changed', (_m, open) => {
                if (open)
                    this._impl.emit_signal('IndicatorOpening', null);
            });
            Main.panel.addToStatusArea('orvane-indicator', this._indicator);
        }
        this._indicatorIcon.gicon = Gio.FileIcon.new(Gio.File.new_for_path(icon));
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
                this._impl.emit_signal('IndicatorActivated', new GLib.Variant('(s)', [id])));
            menu.addMenuItem(item);
        }
    }

    ClearIndicator() {
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
