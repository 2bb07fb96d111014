#!/usr/bin/python3
# `orvane`'s calibration screens on a headless GNOME Shell (scripts/gnome-desktop.sh with the
# bridge and the test shell loaded): started from the shell's top-bar menu, one window per
# monitor covers exactly that monitor and one of them has the keyboard, taken back when another
# program's window is brought forward; an Escape typed on the shell's keyboard closes them all.
#   calibration-screens.py ORVANE CALIBRATE_TOOL
import os
import subprocess
import sys

from shell_bus import (BRIDGE, CLIENTS, INDICATOR, TEST_SHELL, bridge_property, call,
                       menu_labels, report, stop, wait_until)

FACELESS = "/usr/lib/python3/dist-packages/skimage/data/coffee.png"
ESCAPE = 0xff1b
# orvane starts slowly under the sanitizers on a loaded machine.
START_SECONDS = 60
STOP_SECONDS = 15

def windows():
    return call(BRIDGE, "GetWindows", reply="(a(tusss(iiii)(iiii)ibb))")[0]


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
            if row[3] == "gnome-gtk" and row[0] == bridge_property("FocusWindow"):
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
    if not wait_until(lambda: bridge_property("FocusWindow") in screens(), 10):
        failures.append("no calibration window has the keyboard; "
                        f"{bridge_property('FocusWindow')} has")

    # --- Another program brought forward: the calibration takes the keyboard back ------------
    call(BRIDGE, "ActivateWindow", "(t)", (gtk_id["id"],), "(b)")
    if not wait_until(lambda: bridge_property("FocusWindow") in screens(), 10):
        failures.append("the calibration did not take the keyboard back from the GTK window")

    # --- Escape closes them all ---------------------------------------------------------------
    call(TEST_SHELL, "KeyTap", "(u)", (ESCAPE,))
    if not wait_until(lambda: not screens(), 10):
        failures.append(f"Escape left the calibration windows {screens()} open")

    stop(process, STOP_SECONDS, failures)
    gtk.terminate()
    return report(log_text(), failures)

if __name__ == "__main__":
    sys.exit(main())
