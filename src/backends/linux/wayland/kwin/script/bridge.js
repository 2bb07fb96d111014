// Orvane's bridge inside KWin: pushes KWin's outputs, windows, active window and cursor to
// Orvane over the session bus and carries out the commands Orvane answers its standing
// NextCommand call with. It decides nothing; Orvane validates all it sends. Runs on Plasma
// 5.27 (clients) and Plasma 6 (windows). Every argument is one string (JSON where it is more
// than a word), so that how KWin turns script values into D-Bus types does not matter.
var SERVICE = "net.orvane.KWinBridge";
var PATH = "/net/orvane/KWinBridge";
var INTERFACE = "net.orvane.KWinBridge1";
var VERSION = 1;
// Longer than Orvane holds a poll: a poll that failed (Orvane gone) is tried again then.
var POLL_WATCHDOG_MS = 30000;

var plasma6 = typeof workspace.windowList === "function";
var FLAGS = ["normalWindow", "dialog", "dock", "desktopWindow", "toolbar", "menu",
    "dropdownMenu", "popupMenu", "comboBox", "utility", "splash", "notification",
    "criticalNotification", "onScreenDisplay", "tooltip", "dndIcon", "specialWindow",
    "popupWindow", "skipTaskbar", "fullScreen", "deleted"];
var WINDOW_SIGNALS = ["captionChanged", "frameGeometryChanged", "minimizedChanged",
    "keepAboveChanged", "outputChanged", "screenChanged", "stackingOrderChanged",
    "clientMinimized", "clientUnminimized", "windowClassChanged"];

function send(method) {
    var args = [SERVICE, PATH, INTERFACE, method];
    for (var i = 1; i < arguments.length; ++i) {
        args.push(arguments[i]);
    }
    callDBus.apply(null, args);
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
        caption: String(window.caption),
        resourceClass: String(window.resourceClass),
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
    timer.timeout.connect(function () {
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
cursorTimer.timeout.connect(function () {
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

function watch(window) {
    for (var i = 0; i < WINDOW_SIGNALS.length; ++i) {
        var signal = window[WINDOW_SIGNALS[i]];
        if (signal && typeof signal.connect === "function") {
            signal.connect(sendWindows);
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

var watchdog = new QTimer();
watchdog.singleShot = true;
watchdog.interval = POLL_WATCHDOG_MS;
watchdog.timeout.connect(poll);
function poll() {
    watchdog.start();
    send("NextCommand", function (text) {
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
    watch(windows[w]);
}
function onAdded(window) {
    watch(window);
    sendWindows();
}
if (plasma6) {
    workspace.windowAdded.connect(onAdded);
    workspace.windowRemoved.connect(sendWindows);
    workspace.windowActivated.connect(sendActive);
    workspace.screensChanged.connect(sendOutputs);
} else {
    workspace.clientAdded.connect(onAdded);
    workspace.clientRemoved.connect(sendWindows);
    workspace.clientActivated.connect(sendActive);
    workspace.numberScreensChanged.connect(sendOutputs);
}
workspace.virtualScreenGeometryChanged.connect(sendOutputs);
workspace.cursorPosChanged.connect(onCursor);

// Hello first: Orvane takes what follows as the state of this script's KWin.
send("Hello", JSON.stringify({ version: VERSION, api: plasma6 ? 6 : 5 }));
send("Outputs", JSON.stringify(outputList()));
sendWindows();
sendActive();
poll();
