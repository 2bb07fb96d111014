// Part of the GNOME Shell bridge (bridge.js includes it): net.orvane.Bridge1's gaze dot and
// top-bar indicator, drawn by the shell.

Object.assign(Bridge.prototype, {
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
    },

    _HideDot() {
        this._dot?.hide();
    },

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
    },

    _ClearIndicator() {
        this._indicator?.destroy();
        this._indicator = null;
    },
});
