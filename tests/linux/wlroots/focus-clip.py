#!/usr/bin/python3
# `orvane` on a headless labwc (scripts/labwc-desktop.sh), a recorded head turn as its camera:
# focus goes left, right, left, right between a GTK window and a Qt program's window on the
# left output and that Qt program's other window on the right one, as labwc's own toplevel list
# reports it (orvane_toplevel_focus_watch). The pause toggle holds it, and so does a focused
# password entry. Prints how
# long each switch took from its start in orvane to labwc's report, and what tracking cost
# orvane; --diagnose says the reduced guards and finds the user's key binding of the toggle.
#   focus-clip.py ORVANE HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL FOCUS_WATCH
import os
import subprocess
import sys
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "gnome"), os.path.join(HERE, "..", "support")]
from shell_bus import report, wait_until  # noqa: E402
from focus_checks import (finish, focus_follows,  # noqa: E402
                          password_entry_holds, pause_holds, start_client, start_orvane)

FIRST_ALTERNATION_SECONDS = 120  # the face model loads slowly under the sanitizers
HOLD_SECONDS = 10  # two turns of the clip: a switch not held would happen within them
STOP_SECONDS = 15
MEASURE_SECONDS = 10
# The user's binding, as the README gives it for labwc: read by --diagnose only (labwc itself
# runs from its root, where this build's orvane is not, so the test runs the toggle directly).
USER_RC = """<?xml version="1.0"?>
<labwc_config><keyboard>
  <keybind key="W-S-g"><action name="Execute" command="orvane --toggle-pause" /></keybind>
</keyboard></labwc_config>
"""

failures = []


class FocusWatch:
    """Every window labwc newly reports activated, with the monotonic time its report came."""

    def __init__(self, tool):
        self.changes = []
        self.listed = set()
        self._process = subprocess.Popen([tool], stdout=subprocess.PIPE, text=True)
        threading.Thread(target=self._run, daemon=True).start()

    def _run(self):
        for line in self._process.stdout:
            seen, _, title = line.rstrip("\n").partition(" ")
            if seen == "+":
                self.listed.add(title)
            else:
                self.changes.append((float(seen), title))

    def since(self, index):
        windows = []
        for _, window in self.changes[index:]:
            if not windows or windows[-1] != window:
                windows.append(window)
        return windows

    def stop(self):
        self._process.terminate()
        self._process.wait()


def main():
    orvane, make_clip, calibrate, focus_watch = sys.argv[1:5]
    home = os.environ["HOME"]
    version = os.environ.get("ORVANE_COMPOSITOR_VERSION", "?")
    desktop = f"labwc {version}"
    rc = os.path.join(os.environ["XDG_CONFIG_HOME"], "labwc", "rc.xml")
    os.makedirs(os.path.dirname(rc), exist_ok=True)
    with open(rc, "w") as f:
        f.write(USER_RC)
    clip = os.path.join(home, "head-turn.avi")
    subprocess.run([make_clip, clip, "60", "15"], check=True)
    subprocess.run([calibrate], check=True)

    watch = FocusWatch(focus_watch)
    # The window rules put "*-left" on the left output and "*-right" on the right one.
    clients = [
        start_client("gtk-window-at.py", "labwc-gtk-left", "0", "0"),
        start_client("qt-two-windows.py", "labwc-qt", "0", "0", "0")]
    titles = {"labwc-gtk-left", "labwc-qt-left", "labwc-qt-right"}
    if not wait_until(lambda: titles <= watch.listed, 20):
        sys.exit(f"FAIL: the windows did not appear: {watch.listed}")
    left, right = {"labwc-gtk-left", "labwc-qt-left"}, {"labwc-qt-right"}

    process, log_text = start_orvane(orvane, home, clip)

    # --- Focus follows the head -----------------------------------------------------------------
    focus_follows(desktop, process, log_text, watch, left, right, FIRST_ALTERNATION_SECONDS,
                  MEASURE_SECONDS, failures, "labwc's activated state")

    # --- The pause toggle holds focus, run again it lets go -------------------------------------
    pause_holds(desktop, lambda: subprocess.run([orvane, "--toggle-pause"], check=True),
                log_text, watch, left | right, HOLD_SECONDS, failures)

    # Typing is not tried here: labwc 0.8 does not count a virtual keyboard's keys (wtype's)
    # as activity on its idle timer, so no key a test can send would reach orvane's guard.

    # --- A focused password entry holds focus -------------------------------------------------
    password_entry_holds(desktop, "labwc-password-left", log_text, watch, left | right,
                         HOLD_SECONDS, failures)

    # --- Stop; --diagnose names labwc, the guards it cannot give and the user's binding --------
    text = finish(orvane, process, clients, log_text, STOP_SECONDS, failures,
                  ("labwc", "REDUCED", "only that there was input", "known only by the output",
                   "pause hot key: your key binding in " + rc))
    # With no Orvane running, the toggle says so and fails.
    toggle = subprocess.run([orvane, "--toggle-pause"], capture_output=True, text=True,
                            timeout=30)
    if toggle.returncode == 0 or "not running" not in toggle.stderr:
        failures.append(f"--toggle-pause without orvane: {toggle.returncode} {toggle.stderr!r}")
    watch.stop()
    return report(text, failures)


if __name__ == "__main__":
    sys.exit(main())
