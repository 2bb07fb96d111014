// For Orvane's tests only: the user's side of a headless shell, on the session bus as
// net.orvane.TestShell. Keys and pointer go through virtual devices, as a real keyboard's
// and mouse's would; the dialog is built like the shell's own password prompts.
//
// One source for both extension forms, made by the bridge's generator: the lines between
// `//#if legacy` and `//#endif` for GNOME 43-44, those between `//#if modules` and `//#endif`
// for GNOME 45 and later.

//#if legacy
const {Gio, GLib, St, Clutter} = imports.gi;
const Shell = imports.gi.Shell;
const Main = imports.ui.main;
const ModalDialog = imports.ui.modalDialog;
const PopupMenu = imports.ui.popupMenu;
//#endif
//#if modules
import Clutter from 'gi://Clutter';
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import Shell from 'gi://Shell';
import St from 'gi://St';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import * as ModalDialog from 'resource:///org/gnome/shell/ui/modalDialog.js';
import * as PopupMenu from 'resource:///org/gnome/shell/ui/popupMenu.js';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';
//#endif

const TEST_SHELL_XML = `
<node>
  <interface name="net.orvane.TestShell">
    <method name="KeyTap"><arg name="keyval" type="u" direction="in"/></method>
    <method name="KeyPress"><arg name="keyval" type="u" direction="in"/></method>
    <method name="KeyRelease"><arg name="keyval" type="u" direction="in"/></method>
    <method name="PointerMoveTo">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="ButtonPress"><arg name="button" type="u" direction="in"/></method>
    <method name="ButtonRelease"><arg name="button" type="u" direction="in"/></method>
    <method name="OpenPasswordDialog"/>
    <method name="OpenDialog"/>
    <method name="CloseDialog"/>
    <!-- role: a top-bar button's name in the panel's status area ("dateMenu") -->
    <method name="OpenMenu"><arg name="role" type="s" direction="in"/></method>
    <method name="CloseMenu"><arg name="role" type="s" direction="in"/></method>
    <method name="ActivateMenuItem">
      <arg name="role" type="s" direction="in"/>
      <arg name="index" type="i" direction="in"/>
    </method>
    <method name="Overview"><arg name="visible" type="b" direction="in"/></method>
    <!-- The named actor of the shell's stage: whether it is drawn, and its centre. -->
    <method name="FindActor">
      <arg name="name" type="s" direction="in"/>
      <arg name="shown" type="b" direction="out"/>
      <arg name="x" type="i" direction="out"/>
      <arg name="y" type="i" direction="out"/>
    </method>
    <!-- Moves a window's frame to x, y (stage coordinates); false when there is no such window. -->
    <method name="MoveWindow">
      <arg name="id" type="t" direction="in"/>
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
      <arg name="moved" type="b" direction="out"/>
    </method>
    <!-- Every change of the focus window since the start: when (monotonic microseconds, as
         the shell's clock reads it the moment it changes) and to which window. -->
    <method name="FocusChanges">
      <arg name="changes" type="a(tt)" direction="out"/>
    </method>
    <!-- The labels of a top-bar menu's items, as ActivateMenuItem counts them. -->
    <method name="MenuItemLabels">
      <arg name="role" type="s" direction="in"/>
      <arg name="labels" type="as" direction="out"/>
    </method>
    <!-- What the stage shows in the rectangle (stage coordinates), written as a PNG file. -->
    <method name="Screenshot">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
      <arg name="width" type="i" direction="in"/>
      <arg name="height" type="i" direction="in"/>
      <arg name="path" type="s" direction="in"/>
      <arg name="written" type="b" direction="out"/>
    </method>
    <!-- The id of the frontmost window with this title (as the bridge's); 0 when none. -->
    <method name="WindowId">
      <arg name="title" type="s" direction="in"/>
      <arg name="id" type="t" direction="out"/>
    </method>
    <!-- The frame of the frontmost window with this title; empty when there is none. -->
    <method name="WindowFrame">
      <arg name="title" type="s" direction="in"/>
      <arg name="frame" type="(iiii)" direction="out"/>
    </method>
  </interface>
</node>`;

class TestShell {
    enable() {
        const seat = Clutter.get_default_backend().get_default_seat();
        this._keyboard = seat.create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
        this._pointer = seat.create_virtual_device(Clutter.InputDeviceType.POINTER_DEVICE);
        this._dialog = null;
        this._focusChanges = [];
        this._focusId = global.display.connect('notify::focus-window', () => {
            const id = global.display.focus_window?.get_id() ?? 0;
            this._focusChanges.push([GLib.get_monotonic_time(), id]);
        });
        this._impl = Gio.DBusExportedObject.wrapJSObject(TEST_SHELL_XML, this);
        this._impl.export(Gio.DBus.session, '/net/orvane/TestShell');
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, 'net.orvane.TestShell',
            Gio.BusNameOwnerFlags.NONE, null, null);
    }

    disable() {
        this.CloseDialog();
        global.display.disconnect(this._focusId);
        Gio.bus_unown_name(this._nameId);
        this._impl.unexport();
        this._impl = this._keyboard = this._pointer = null;
    }

    _key(keyval, state) {
        this._keyboard.notify_keyval(GLib.get_monotonic_time(), keyval, state);
    }

    MoveWindow(id, x, y) {
        const actor = global.get_window_actors().find(a => a.meta_window.get_id() === id);
        if (!actor)
            return false;
        actor.meta_window.move_frame(true, x, y);
        return true;
    }

    KeyTap(keyval) {
        this._key(keyval, Clutter.KeyState.PRESSED);
        this._key(keyval, Clutter.KeyState.RELEASED);
    }

    KeyPress(keyval) {
        this._key(keyval, Clutter.KeyState.PRESSED);
    }

    KeyRelease(keyval) {
        this._key(keyval, Clutter.KeyState.RELEASED);
    }

    PointerMoveTo(x, y) {
        this._pointer.notify_absolute_motion(GLib.get_monotonic_time(), x, y);
    }

    ButtonPress(button) {
        this._pointer.notify_button(GLib.get_monotonic_time(), button,
            Clutter.ButtonState.PRESSED);
    }

    ButtonRelease(button) {
        this._pointer.notify_button(GLib.get_monotonic_time(), button,
            Clutter.ButtonState.RELEASED);
    }

    _openDialog(withPassword) {
        this.CloseDialog();
        // Destroyed here, at once: a shell without animations would destroy it as it closes
        // (GNOME 48), an older one after the close's animation.
        const dialog = new ModalDialog.ModalDialog({styleClass: 'prompt-dialog', destroyOnClose: false});
        dialog.contentLayout.add_child(new St.Label({text: 'Authentication required'}));
        if (withPassword) {
            const entry = new St.PasswordEntry({
                style_class: 'prompt-dialog-password-entry',
                can_focus: true,
            });
            dialog.contentLayout.add_child(entry);
            dialog.setInitialKeyFocus(entry);
        }
        dialog.addButton({label: 'Cancel', action: () => this.CloseDialog(), key: Clutter.KEY_Escape});
        if (!dialog.open())
            throw new Error('the dialog could not take the keyboard');
        this._dialog = dialog;
    }

    OpenPasswordDialog() {
        this._openDialog(true);
    }

    OpenDialog() {
        this._openDialog(false);
    }

    CloseDialog() {
        if (!this._dialog)
            return;
        const dialog = this._dialog;
        this._dialog = null;
        dialog.close();
        dialog.destroy();
    }

    _menu(role) {
        const button = Main.panel.statusArea[role];
        if (!button)
            throw new Error(`no ${role} in the top bar`);
        return button.menu;
    }

    OpenMenu(role) {
        this._menu(role).open();
    }

    CloseMenu(role) {
        this._menu(role).close();
    }

    // The index counts items only, separators aside.
    ActivateMenuItem(role, index) {
        const items = this._menu(role)._getMenuItems()
            .filter(item => !(item instanceof PopupMenu.PopupSeparatorMenuItem));
        // What a click ends in; a switch item's own activate() wants the click's event.
        items[index].emit('activate', null);
    }

    FindActor(name) {
        const find = actor => {
            if (actor.get_name() === name)
                return actor;
            for (const child of actor.get_children()) {
                const found = find(child);
                if (found)
                    return found;
            }
            return null;
        };
        // Ours are children of the shell's top layer: looked for there first.
        const actor = Main.layoutManager.uiGroup.get_children().find(a => a.get_name() === name) ??
            find(global.stage);
        if (!actor)
            return [false, 0, 0];
        const [x, y] = actor.get_transformed_position();
        const [width, height] = actor.get_transformed_size();
        return [actor.is_mapped(), Math.round(x + width / 2), Math.round(y + height / 2)];
    }

    Overview(visible) {
        if (visible)
            Main.overview.show();
        else
            Main.overview.hide();
    }

    FocusChanges() {
        return this._focusChanges;
    }

    // None while there is no such button (yet).
    MenuItemLabels(role) {
        const button = Main.panel.statusArea[role];
        if (!button)
            return [];
        return button.menu._getMenuItems()
            .filter(item => !(item instanceof PopupMenu.PopupSeparatorMenuItem))
            .map(item => item.label?.text ?? '');
    }

    ScreenshotAsync([x, y, width, height, path], invocation) {
        const shooter = new Shell.Screenshot();
        const stream = Gio.File.new_for_path(path)
            .replace(null, false, Gio.FileCreateFlags.NONE, null);
        shooter.screenshot_area(x, y, width, height, stream, (_shooter, result) => {
            let written = false;
            try {
                shooter.screenshot_area_finish(result);
                written = true;
            } catch (e) {
                logError(e, 'Orvane test shell: no screenshot');
            }
            stream.close(null);
            invocation.return_value(new GLib.Variant('(b)', [written]));
        });
    }

    WindowId(title) {
        const windows = global.get_window_actors().map(a => a.meta_window)
            .filter(w => w.get_title() === title);
        return windows.length ? global.display.sort_windows_by_stacking(windows).pop().get_id() : 0;
    }

    WindowFrame(title) {
        const windows = global.get_window_actors().map(a => a.meta_window)
            .filter(w => w.get_title() === title);
        if (!windows.length)
            return [0, 0, 0, 0];
        const front = global.display.sort_windows_by_stacking(windows).pop();
        const rect = front.get_frame_rect();
        return [rect.x, rect.y, rect.width, rect.height];
    }
}

//#if legacy
function init() {
    return new TestShell();
}
//#endif
//#if modules
export default class TestShellExtension extends Extension {
    enable() {
        this._shell = new TestShell();
        this._shell.enable();
    }

    disable() {
        this._shell.disable();
        this._shell = null;
    }
}
//#endif
