// Part of the GNOME Shell bridge (bridge.js includes it): net.orvane.Bridge1's pointer, input
// samples, posted keys and accelerators.

Object.assign(Bridge.prototype, {
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
    },

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
    },

    _GetPointer() {
        const [x, y, state] = global.get_pointer();
        return [x, y, state];
    },

    _WarpPointer([x, y]) {
        Clutter.get_default_backend().get_default_seat().warp_pointer(x, y);
    },

    _WatchInput([interval], _sender, caller) {
        caller.interval = interval > 0
            ? Math.min(Math.max(interval, MIN_INPUT_INTERVAL_MS), MAX_INPUT_INTERVAL_MS) : 0;
        this._restartInputTimer();
    },

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
    },

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
    },

    _UngrabAccelerator([action], _sender, caller) {
        let released = false;
        if (caller.actions.has(action)) {
            released = global.display.ungrab_accelerator(action);
            caller.actions.delete(action);
            this._accelerators.delete(action);
        }
        return [released];
    },
});
