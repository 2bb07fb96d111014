#!/usr/bin/python3
# `orvane`'s calibration screens on a headless GNOME Shell (scripts/gnome-desktop.sh with the
# bridge and the test shell loaded): started from the shell's top-bar menu, one window per
# monitor covers exactly that monitor and one of them has the keyboard, taken back when another
# program's window is brought forward; an Escape typed on the shell's keyboard closes them all.
#   calibration-screens.py ORVANE CALIBRATE_TOOL
import os
import re
import signal
import subprocess
import sys
import time

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

CLIENTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "clients")
BRIDGE = ("net.orvane.Bridge", "/net/orvane/Bridge", "net.orvane.Bridge1")
TEST_SHELL = ("net.orvane.TestShell", "/net/orvane/TestShell", "net.orvane.TestShell")
INDICATOR = "orvane-indicator"
FACELESS = "/usr/lib/python3/dist-packages/skimage/data/coffee.png"
ESCAPE = 0xff1b
# orvane starts slowly under the sanitizers on a loaded machine.
START_SECONDS = 60
STOP_SECONDS = 15

bus = Gio.bus_get_sync(Gio.BusType.SESSION)


def call(target, method, signature=None, args=(), reply=None):
    name, path, interface = target
    parameters = GLib.Variant(signature, args) if signature else None
    result = bus.call_sync(name, path, interface, method, parameters,
                           GLib.VariantType(reply) if reply else None,
                           Gio.DBusCallFlags.NONE, 10000, None)
    return result.unpack() if result is not None else None


def focus_window():
    return bus.call_sync(BRIDGE[0], BRIDGE[1], "org.freedesktop.DBus.Properties", "Get",
                         GLib.Variant("(ss)", (BRIDGE[2], "FocusWindow")), None,
                         Gio.DBusCallFlags.NONE, 10000, None).unpack()[0]


def windows():
    return call(BRIDGE, "GetWindows", reply="(a(tusss(iiii)(iiii)ibb))")[0]


def wait_until(predicate, seconds):
    """Runs the main loop until `predicate` holds or `seconds` pass; whether it held."""
    context = GLib.MainContext.default()
    deadline = time.monotonic() + seconds
    while not predicate():
        if time.monotonic() >= deadline:
            return False
        GLib.timeout_add(100, lambda: False)  # wakes the loop to look again
        context.iteration(True)
    return True


def menu_labels():
    try:
        return call(TEST_SHELL, "MenuItemLabels", "(s)", (INDICATOR,), "(as)")[0]
    except GLib.Error:
        return []  # not in the top bar yet


def main():
    orvane, calibrate = sys.argv[1:3]
    home = os.environ["HOME"]
    subprocess.run([calibrate], check=True, stdout=subprocess.DEVNULL)
    monitors = sorted(tuple(m[:4]) for m in call(BRIDGE, "GetMonitors",
                                                  reply="(a(iiiissb))")[0])
    failures = []

    # Another program's window has the keyboard when the calibration starts.
    gtk = subprocess.Popen(["/usr/bin/python3", os.path.join(CLIENTS, "gtk-window-at.py"),
                            "gnome-gtk", "0", "0"], env=dict(os.environ, GDK_BACKEND="wayland"),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    gtk_id = {}

    def gtk_focused():
        for row in windows():
            if row[3] == "gnome-gtk" and row[0] == focus_window():
                gtk_id["id"] = row[0]
                return True
        return False

    if not wait_until(gtk_focused, 20):
        sys.exit("FAIL: the GTK window did not appear with focus")

    log_path = os.path.join(home, "orvane.log")
    log = open(log_path, "w")
    process = subprocess.Popen([orvane], env=dict(os.environ, ORVANE_CAMERA_FILES=FACELESS),
                               stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)

    def log_text():
        with open(log_path, errors="replace") as f:
            return f.read()

    def screens():
        return {row[0]: tuple(row[5]) for row in windows()
                if row[1] == process.pid and row[3].startswith("Orvane Calibration")}

    if not wait_until(lambda: "Recalibrate\u2026" in menu_labels(), START_SECONDS):
        process.kill()
        sys.exit("FAIL: orvane's menu in the top bar offers no Recalibrate\u2026; it has "
                 f"{menu_labels()}\n--- orvane's log ---\n{log_text()[-4000:]}")
    call(TEST_SHELL, "ActivateMenuItem", "(si)",
         (INDICATOR, menu_labels().index("Recalibrate\u2026")))

    # --- One window on each monitor, exactly -------------------------------------------------
    if not wait_until(lambda: sorted(screens().values()) == monitors, 20):
        failures.append(f"the calibration windows are at {sorted(screens().values())}, "
                        f"the monitors at {monitors}")
    if not wait_until(lambda: focus_window() in screens(), 10):
        failures.append(f"no calibration window has the keyboard; {focus_window()} has")

    # --- Another program brought forward: the calibration takes the keyboard back ------------
    call(BRIDGE, "ActivateWindow", "(t)", (gtk_id["id"],), "(b)")
    if not wait_until(lambda: focus_window() in screens(), 10):
        failures.append("the calibration did not take the keyboard back from the GTK window")

    # --- Escape closes them all ---------------------------------------------------------------
    call(TEST_SHELL, "KeyTap", "(u)", (ESCAPE,))
    if not wait_until(lambda: not screens(), 10):
        failures.append(f"Escape left the calibration windows {screens()} open")

    if process.poll() is not None:
        failures.append(f"orvane ended early with status {process.returncode}")
    else:
        process.send_signal(signal.SIGTERM)
        try:
            status = process.wait(STOP_SECONDS)
            if status != 0:
                failures.append(f"orvane exited with status {status}")
        except subprocess.TimeoutExpired:
            process.kill()
            failures.append(f"orvane did not end within {STOP_SECONDS} s of SIGTERM")
    gtk.terminate()
    text = log_text()
    if re.search(r"ERROR: (Address|Leak)Sanitizer|runtime error:", text):
        failures.append("the sanitizers reported a fault")
    if failures:
        print("--- orvane's log ---\n" + text[-6000:])
        for failure in failures:
            print("FAIL: " + failure)
        return 1
    print("every check passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
