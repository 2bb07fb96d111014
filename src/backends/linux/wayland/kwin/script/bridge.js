// Orvane's bridge inside KWin: pushes KWin's outputs, windows, active window and cursor to
// Orvane over the session bus and carries out the commands Orvane answers its standing
// NextCommand call with. It decides nothing; Orvane validates all it sends. Runs on Plasma
// 5.27 (clients) and Plasma 6 (windows). Every argument is a string (JSON where it is more
// than a word), so that how KWin turns script values into D-Bus types does not matter.
//
// It serves the one Orvane that loaded it: Orvane writes its own connection's unique name
// (never given to another) and a key of this run into the copy KWin loads, the script calls
// only that connection, and every call carries the key. Once Orvane's connection is gone the
// script stops and asks KWin to unload it.
var SERVICE = "@ORVANE_SERVICE@";
var KEY = "@ORVANE_KEY@";
var PLUGIN = "@ORVANE_PLUGIN@";
var PATH = "/net/orvane/KWinBridge";
var INTERFACE = "net.orvane.KWinBridge1";
var VERSION = 2;
// Longer than Orvane holds a poll. KWin calls back only on success, so a poll unanswered by
// then failed: Orvane's connection is gone.
var POLL_WATCHDOG_MS = 15000;
// What is sent of a caption and a window class, in UTF-16 units.
var CAPTION_LIMIT = 1024;
var CLASS_LIMIT = 128;

var plasma6 = typeof workspace.windowList === "function";
var FLAGS = ["normalWindow", "dialog", "dock", "desktopWindow", "toolbar", "menu",
    "dropdownMenu", "popupMenu", "comboBox", "utility", "splash", "notification",
    "criticalNotification", "onScreenDisplay", "tooltip", "dndIcon", "specialWindow",
    "popupWindow", "skipTaskbar", "fullScreen", "deleted"];
var WINDOW_SIGNALS = ["captionChanged", "frameGeometryChanged", "minimizedChanged",
    "keepAboveChanged", "outputChanged", "screenChanged", "stackingOrderChanged",
    "clientMinimized", "clientUnminimized", "windowClassChanged"];

var stopped = false;
// Every handler the script connected, to disconnect them all when it stops.
var connections = [];

function connect(signal, handler) {
    signal.connect(handler);
    connections.push([signal, handler]);
}

function send(method) {
    if (stopped) {
        return;
    }
    var args = [SERVICE, PATH, INTERFACE, method, KEY];
    for (var i = 1; i < arguments.length; ++i) {
        args.push(arguments[i]);
    }
    callDBus.apply(null, args);
}

// Cut to `limit` UTF-16 units, never between the halves of a surrogate pair.
function clip(value, limit) {
    var text = String(value);
    if (text.length <= limit) {
        return text;
    }
    var end = limit;
    var last = text.charCodeAt(end - 1);
    if (last >= 0xD800 && last <= 0xDBFF) {
        --end;
    }
    return text.substring(0, end);
}

function allWindows() {
    return plasma6 ? workspace.windowList() : workspace.clientList();
}

function activeWindow() {
    return plasma6 ? workspace.activeWindow : workspace.activeClient;
}

function idOf(window) {
    return window ? String(window.internalId) : "";
}

function rect(r) {
    return r ? { x: r.x, y: r.y, width: r.width, height: r.height } : null;
}

function outputList() {
    var outputs = [];
    if (plasma6) {
        var screens = workspace.screens;
        for (var i = 0; i < screens.length; ++i) {
            outputs.push({ name: String(screens[i].name), geometry: rect(screens[i].geometry) });
        }
    } else {
        for (var j = 0; j < workspace.numScreens; ++j) {
            outputs.push({ name: "", geometry: rect(workspace.clientArea(KWin.ScreenArea, j,
                workspace.currentDesktop)) });
        }
    }
    return outputs;
}

function outputIndex(window) {
    if (!plasma6) {
        return typeof window.screen === "number" ? window.screen : -1;
    }
    var screens = workspace.screens;
    for (var i = 0; i < screens.length; ++i) {
        if (window.output && screens[i].name === window.output.name) {
            return i;
        }
    }
    return -1;
}

function describe(window) {
    var flags = [];
    for (var i = 0; i < FLAGS.length; ++i) {
        if (window[FLAGS[i]] === true) {
            flags.push(FLAGS[i]);
        }
    }
    return {
        id: idOf(window),
        pid: window.pid,
        caption: clip(window.caption, CAPTION_LIMIT),
        resourceClass: clip(window.resourceClass, CLASS_LIMIT),
        frame: rect(window.frameGeometry),
        buffer: rect(window.bufferGeometry),
        output: outputIndex(window),
        stacking: window.stackingOrder,
        keepAbove: window.keepAbove === true,
        minimized: window.minimized === true,
        flags: flags
    };
}

// Bursts of changes (a window dragged, several windows mapped) go out once per turn of
// KWin's event loop.
function later(action) {
    var timer = new QTimer();
    timer.singleShot = true;
    timer.interval = 0;
    var pending = false;
    connect(timer.timeout, function () {
        pending = false;
        action();
    });
    return function () {
        if (!pending) {
            pending = true;
            timer.start();
        }
    };
}

var sendWindows = later(function () {
    var windows = allWindows();
    var list = [];
    for (var i = 0; i < windows.length; ++i) {
        list.push(describe(windows[i]));
    }
    send("Windows", JSON.stringify(list));
});
var sendOutputs = later(function () {
    send("Outputs", JSON.stringify(outputList()));
    sendWindows();
});

function sendActive() {
    send("Active", idOf(activeWindow()));
}

// Cursor samples, at most one every `cursorInterval` ms, none while it is 0.
var cursorInterval = 0;
var cursorMoved = false;
var cursorTimer = new QTimer();
cursorTimer.singleShot = true;
connect(cursorTimer.timeout, function () {
    if (cursorMoved && cursorInterval > 0) {
        cursorMoved = false;
        var p = workspace.cursorPos;
        send("Cursor", JSON.stringify({ x: p.x, y: p.y }));
        cursorTimer.interval = cursorInterval;
        cursorTimer.start();
    }
});
function onCursor() {
    cursorMoved = true;
    if (cursorInterval > 0 && !cursorTimer.active) {
        cursorTimer.interval = 0;
        cursorTimer.start();
    }
}

// A window's signals go with the window; those still there are let go of when the script
// stops.
function watch(window, on) {
    for (var i = 0; i < WINDOW_SIGNALS.length; ++i) {
        var signal = window[WINDOW_SIGNALS[i]];
        if (signal && typeof signal.connect === "function") {
            if (on) {
                signal.connect(sendWindows);
            } else {
                try {
                    signal.disconnect(sendWindows);
                } catch (e) {
                    // Never watched: it came after the script stopped listening.
                }
            }
        }
    }
}

function find(id) {
    var windows = allWindows();
    for (var i = 0; i < windows.length; ++i) {
        if (idOf(windows[i]) === id) {
            return windows[i];
        }
    }
    return null;
}

function perform(command) {
    if (command.op === "activate") {
        var window = find(String(command.id));
        if (window) {
            if (plasma6) {
                workspace.activeWindow = window;
            } else {
                workspace.activeClient = window;
            }
        }
    } else if (command.op === "watch") {
        cursorInterval = Number(command.milliseconds) || 0;
        onCursor();
    }
    if (typeof command.serial === "number") {
        var p = workspace.cursorPos;
        send("Done", JSON.stringify({ serial: command.serial, active: idOf(activeWindow()),
            x: p.x, y: p.y }));
    }
}

// Orvane is gone: nothing more goes out, nothing more is heard, and KWin drops the script.
function stop() {
    if (stopped) {
        return;
    }
    stopped = true;
    watchdog.stop();
    cursorTimer.stop();
    for (var i = 0; i < connections.length; ++i) {
        connections[i][0].disconnect(connections[i][1]);
    }
    connections = [];
    var windows = allWindows();
    for (var j = 0; j < windows.length; ++j) {
        watch(windows[j], false);
    }
    callDBus("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "unloadScript", PLUGIN);
}

var watchdog = new QTimer();
watchdog.singleShot = true;
watchdog.interval = POLL_WATCHDOG_MS;
connect(watchdog.timeout, stop);
function poll() {
    if (stopped) {
        return;
    }
    watchdog.start();
    send("NextCommand", function (text) {
        if (stopped) {
            return;
        }
        var command = null;
        try {
            command = JSON.parse(text);
        } catch (e) {
            command = null;
        }
        if (command) {
            perform(command);
        }
        poll();
    });
}

var windows = allWindows();
for (var w = 0; w < windows.length; ++w) {
    watch(windows[w], true);
}
function onAdded(window) {
    watch(window, true);
    sendWindows();
}
if (plasma6) {
    connect(workspace.windowAdded, onAdded);
    connect(workspace.windowRemoved, sendWindows);
    connect(workspace.windowActivated, sendActive);
    connect(workspace.screensChanged, sendOutputs);
} else {
    connect(workspace.clientAdded, onAdded);
    connect(workspace.clientRemoved, sendWindows);
    connect(workspace.clientActivated, sendActive);
    connect(workspace.numberScreensChanged, sendOutputs);
}
connect(workspace.virtualScreenGeometryChanged, sendOutputs);
connect(workspace.cursorPosChanged, onCursor);

// Hello first: Orvane takes what follows as the state of this script's KWin.
send("Hello", JSON.stringify({ version: VERSION, api: plasma6 ? 6 : 5 }));
send("Outputs", JSON.stringify(outputList()));
sendWindows();
sendActive();
poll();
