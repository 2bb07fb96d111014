// Part of the GNOME Shell bridge (bridge.js includes it): net.orvane.Bridge1's state, monitors
// and windows, and activating one.

Object.assign(Bridge.prototype, {
    _Follow(_params, _sender, caller) {
        caller.follows = true;
    },

    _GetVersion() {
        return [INTERFACE_VERSION];
    },

    _GetState() {
        return [this._stateEntries({...this._currentState(), ShellVersion: Config.PACKAGE_VERSION})];
    },

    _SetOverviewActive([active]) {
        if (active)
            Main.overview.show();
        else
            Main.overview.hide();
    },

    _GetMonitors() {
        return new Promise(resolve => {
            Gio.DBus.session.call('org.gnome.Mutter.DisplayConfig',
                '/org/gnome/Mutter/DisplayConfig', 'org.gnome.Mutter.DisplayConfig',
                'GetCurrentState', null, null, Gio.DBusCallFlags.NONE, 2000, null,
                (connection, result) => resolve(this._monitors(connection, result)));
        });
    },

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
    },

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
    },

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
    },
});
