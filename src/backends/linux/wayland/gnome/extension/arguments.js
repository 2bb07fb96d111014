// Part of the GNOME Shell bridge (bridge.js includes it): what a caller may hand the shell.

function invalidArgs(why) {
    const error = new Error(why);
    error.dbusError = 'org.freedesktop.DBus.Error.InvalidArgs';
    return error;
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
