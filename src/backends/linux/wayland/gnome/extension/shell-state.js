// Part of the GNOME Shell bridge (bridge.js includes it): what the shell shows, read as it is.

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
