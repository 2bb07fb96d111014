#!/usr/bin/python3
# Pictures of `orvane` on a headless GNOME Shell (scripts/gnome-desktop.sh with the bridge and
# the test shell loaded), taken by the shell itself: the set-up window asking to turn the
# extension on, the top-bar indicator and its menu, the gaze dot, the settings window and the
# calibration screens. Run by scripts/screenshots.sh --gnome.
#   screenshots.py ORVANE HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL OUTPUT_DIRECTORY
import os
import signal
import subprocess
import sys

from shell_bus import BRIDGE, INDICATOR, TEST_SHELL, call, menu_labels, wait_until

EXTENSIONS = ("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell.Extensions")
BRIDGE_UUID = "bridge@orvane.net"
# A still face for the set-up; then a head turning from one monitor to the other.
FACE = "/usr/share/matplotlib/mpl-data/sample_data/grace_hopper.jpg"
RETURN, ESCAPE = 0xff0d, 0xff1b
# Long enough for a repaint after a change that sends no event we could wait on.
SETTLE_SECONDS = 2

failures = []


def pause(seconds=SETTLE_SECONDS):
    wait_until(lambda: False, seconds)


def bridge_on_bus():
    return call(("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus"),
                "NameHasOwner", "(s)", (BRIDGE[0],), "(b)")[0]


def window_frame(title):
    """The window's frame once the shell has placed it: the same twice, a moment apart."""
    frames = []

    def placed():
        frames.append(tuple(call(TEST_SHELL, "WindowFrame", "(s)", (title,), "((iiii))")[0]))
        if frames[-1][2] > 0 and frames[-2:] == [frames[-1]] * 2:
            return True
        pause(0.5)
        return False

    if not wait_until(placed, 30):
        failures.append(f"no window {title} settled")
        return None
    return frames[-1]


def item_index(label):
    """The index of the item with this label (and perhaps its shortcut after it)."""
    labels = menu_labels()
    return next((i for i, text in enumerate(labels) if text.split("  ")[0] == label), None)


def activate_item(label):
    if not wait_until(lambda: item_index(label) is not None, 60):
        failures.append(f"the top-bar menu has no {label}: {menu_labels()}")
        return False
    call(TEST_SHELL, "ActivateMenuItem", "(si)", (INDICATOR, item_index(label)))
    return True


def wake_up():
    """Pointer activity: the shell keeps its banners up for as long as the user is idle."""
    for x in (600, 700):
        call(TEST_SHELL, "PointerMoveTo", "(ii)", (x, 900))
        pause(0.2)


class Shooter:
    def __init__(self, directory):
        self.directory = directory

    def __call__(self, rect, name):
        if rect is None:
            return
        path = os.path.join(self.directory, name)
        if call(TEST_SHELL, "Screenshot", "(iiiis)", (*rect, path), "(b)")[0]:
            print(path)
        else:
            failures.append(f"the shell wrote no {path}")


class Orvane:
    def __init__(self, program, log_path, camera=FACE):
        self.log = open(log_path, "w")
        self.process = subprocess.Popen([program], env=dict(os.environ, ORVANE_CAMERA_FILES=camera),
                                        stdout=self.log, stderr=subprocess.STDOUT,
                                        stdin=subprocess.DEVNULL)
        self.pid = self.process.pid
        self.log_path = log_path

    def logged(self, text):
        with open(self.log_path, errors="replace") as f:
            return text in f.read()

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(15)
        except subprocess.TimeoutExpired:
            self.process.kill()
            failures.append("orvane did not end on SIGTERM")


def main():
    orvane, make_clip, calibrate, out = sys.argv[1:5]
    home = os.environ["HOME"]
    clip = os.path.join(home, "head-turn.avi")
    subprocess.run([make_clip, clip, "60", "15"], check=True, stdout=subprocess.DEVNULL)
    shoot = Shooter(out)
    monitors = sorted(tuple(m[:4]) for m in call(BRIDGE, "GetMonitors",
                                                  reply="(a(iiiissb))")[0])
    primary = monitors[0]

    # --- Set-up with the extension switched off ------------------------------------------------
    wake_up()
    app = Orvane(orvane, os.path.join(home, "orvane-setup.log"))
    window_frame("Set up Orvane")
    call(TEST_SHELL, "KeyTap", "(u)", (RETURN,))  # on to the accessibility step
    call(EXTENSIONS, "DisableExtension", "(s)", (BRIDGE_UUID,), "(b)")
    wait_until(lambda: not bridge_on_bus(), 10)
    pause()
    wake_up()
    shoot(window_frame("Set up Orvane"), "gnome-onboarding-extension.png")
    call(EXTENSIONS, "EnableExtension", "(s)", (BRIDGE_UUID,), "(b)")
    if not wait_until(bridge_on_bus, 10):
        sys.exit("FAIL: the bridge did not come back")
    pause()
    shoot(window_frame("Set up Orvane"), "gnome-onboarding-ready.png")
    app.stop()

    # --- Calibrated and tracking ----------------------------------------------------------
    # The clip looks 11 degrees down: mid-height, as the demonstration has it.
    subprocess.run([calibrate, "--pitch", "-11", "--gaze-dot"], check=True,
                   stdout=subprocess.DEVNULL)
    app = Orvane(orvane, os.path.join(home, "orvane.log"), clip)
    # The face model loads with the first frame, slowly in a sanitizer build.
    if not wait_until(lambda: app.logged("status: tracking"), 120):
        failures.append("orvane never tracked the face")
    if wait_until(lambda: item_index("Recalibrate\u2026") is not None, 60):
        wake_up()
        pause()
        x, y, width, _ = primary
        shoot((x + width - 480, y, 480, 40), "gnome-indicator.png")
        call(TEST_SHELL, "OpenMenu", "(s)", (INDICATOR,))
        pause(1)
        shoot((x + width - 480, y, 480, 420), "gnome-indicator-menu.png")
        call(TEST_SHELL, "CloseMenu", "(s)", (INDICATOR,))
        pause(1)
        shoot((0, 0, sum(m[2] for m in monitors), primary[3]), "gnome-gaze-dot.png")

    if activate_item("Settings\u2026"):
        frame = window_frame("Orvane Settings")
        shoot(frame, "gnome-settings.png")

    if activate_item("Recalibrate\u2026"):
        def covered():
            rows = call(BRIDGE, "GetWindows", reply="(a(tusss(iiii)(iiii)ibb))")[0]
            return sorted(tuple(row[5]) for row in rows if row[1] == app.pid and
                          row[3].startswith("Orvane Calibration")) == monitors

        if not wait_until(covered, 30):
            failures.append("the calibration windows did not cover the monitors")
        pause()
        shoot(monitors[0], "gnome-calibration-active.png")
        shoot(monitors[1], "gnome-calibration-inactive.png")
        call(TEST_SHELL, "KeyTap", "(u)", (ESCAPE,))
    app.stop()

    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
