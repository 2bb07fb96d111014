#!/usr/bin/python3
# `orvane` on a headless sway (scripts/sway-desktop.sh), a recorded head turn as its camera:
# focus goes left, right, left, right between a GTK window and a Qt program's window on the
# left output and that Qt program's other window on the right one, as sway's own window
# events report it. The pause chord, pressed through a virtual keyboard, holds it, and so does
# typing there, which orvane hears only from sway's idle timer. Prints how long each switch
# took from its start in orvane to sway's focus event, and what tracking cost orvane.
#   focus-clip.py ORVANE HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL
import json
import os
import re
import socket
import struct
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "gnome"), os.path.join(HERE, "..", "support")]
from shell_bus import report, wait_until  # noqa: E402
from focus_checks import (finish, focus_follows,  # noqa: E402
                          password_entry_holds, pause_holds, start_client, start_orvane)

SUBSCRIBE, GET_TREE, WINDOW_EVENT = 2, 4, 0x80000003
FIRST_ALTERNATION_SECONDS = 120  # the face model loads slowly under the sanitizers
HOLD_SECONDS = 10  # two turns of the clip: a switch not held would happen within them
TYPING_LEAD_SECONDS = 1
STOP_SECONDS = 15
MEASURE_SECONDS = 10
PAUSE_CHORD = ["wtype", "-M", "logo", "-M", "shift", "-k", "g", "-m", "shift", "-m", "logo"]

failures = []


class Ipc:
    """One connection to sway's socket."""

    def __init__(self):
        self.socket = socket.socket(socket.AF_UNIX)
        self.socket.connect(os.environ["SWAYSOCK"])

    def send(self, kind, payload=""):
        data = payload.encode()
        self.socket.sendall(b"i3-ipc" + struct.pack("=II", len(data), kind) + data)

    def receive(self):
        header = self._read(14)
        length, kind = struct.unpack("=II", header[6:])
        return kind, json.loads(self._read(length))

    def ask(self, kind, payload=""):
        self.send(kind, payload)
        return self.receive()[1]

    def _read(self, size):
        data = b""
        while len(data) < size:
            chunk = self.socket.recv(size - len(data))
            if not chunk:
                raise EOFError("sway closed its socket")
            data += chunk
        return data


class FocusWatch:
    """Every window sway focuses, with the monotonic time its event came."""

    def __init__(self):
        self.changes = []
        self._ipc = Ipc()
        if not self._ipc.ask(SUBSCRIBE, '["window"]').get("success"):
            sys.exit("FAIL: sway refused to send window events")
        threading.Thread(target=self._run, daemon=True).start()

    def _run(self):
        try:
            while True:
                kind, event = self._ipc.receive()
                if kind == WINDOW_EVENT and event.get("change") == "focus":
                    self.changes.append((time.monotonic(), event["container"]["id"]))
        except (EOFError, OSError):
            pass

    def since(self, index):
        windows = []
        for _, window in self.changes[index:]:
            if not windows or windows[-1] != window:
                windows.append(window)
        return windows


def views():
    found = {}

    def walk(node):
        if node.get("pid"):
            found[node.get("name")] = node
        for child in node.get("nodes", []) + node.get("floating_nodes", []):
            walk(child)

    walk(Ipc().ask(GET_TREE))
    return found



def main():
    orvane, make_clip, calibrate = sys.argv[1:4]
    home = os.environ["HOME"]
    version = os.environ.get("ORVANE_COMPOSITOR_VERSION", "?")
    clip = os.path.join(home, "head-turn.avi")
    subprocess.run([make_clip, clip, "60", "15"], check=True)
    subprocess.run([calibrate], check=True)

    clients = [
        start_client("gtk-window-at.py", "sway-gtk", "0", "0"),
        start_client("qt-two-windows.py", "sway-qt", "0", "0", "0")]
    titles = ("sway-gtk", "sway-qt-left", "sway-qt-right")
    if not wait_until(lambda: all(t in views() for t in titles), 20):
        sys.exit(f"FAIL: the windows did not appear: {list(views())}")
    ids = {title: views()[title]["id"] for title in titles}
    Ipc().ask(0, f"[con_id={ids['sway-qt-right']}] move container to output HEADLESS-2")
    if not wait_until(lambda: views()["sway-qt-right"]["rect"]["x"] >= 1920, 10):
        sys.exit("FAIL: the right window did not go to the right output")
    left, right = {ids["sway-gtk"], ids["sway-qt-left"]}, {ids["sway-qt-right"]}

    watch = FocusWatch()
    process, log_text = start_orvane(orvane, home, clip)

    # --- Focus follows the head -----------------------------------------------------------------
    focus_follows(f"sway {version}", process, log_text, watch, left, right,
                  FIRST_ALTERNATION_SECONDS, MEASURE_SECONDS, failures, "sway's focus event")

    # --- The pause hot key holds focus, pressed again it lets go --------------------------------
    pause_holds(f"sway {version}", lambda: subprocess.run(PAUSE_CHORD, check=True), log_text, watch, left | right, HOLD_SECONDS,
                failures)

    # --- Typing holds focus: sway's idle timer tells orvane that there was input ---------------
    typed_until = time.monotonic() + HOLD_SECONDS + TYPING_LEAD_SECONDS
    mark = None
    while time.monotonic() < typed_until:
        subprocess.run(["wtype", "orvane "], check=True)
        wait_until(lambda: False, 0.25)
        # A switch begun just before the first key may still land.
        if mark is None and time.monotonic() > typed_until - HOLD_SECONDS:
            mark = len(watch.changes)
    moved = [w for w in watch.since(mark) if w in left | right]
    statuses = re.findall(r"status: (.*)\n", log_text())
    if moved:
        failures.append(f"focus moved to {moved} while typing")
    elif not statuses or statuses[-1] != "waiting: typing":
        failures.append(f'orvane did not say "waiting: typing" while keys were typed: {statuses}')
    else:
        print(f"sway {version}: typing held focus for {HOLD_SECONDS} s")

    # --- A focused password entry holds focus -------------------------------------------------
    password_entry_holds(f"sway {version}", "sway-password", log_text, watch, left | right,
                         HOLD_SECONDS, failures)

    # --- Stop; --diagnose names sway and the guards it cannot give -----------------------------
    text = finish(orvane, process, clients, log_text, STOP_SECONDS, failures, ('sway', 'REDUCED', 'only that there was input'))
    return report(text, failures)


if __name__ == "__main__":
    sys.exit(main())
