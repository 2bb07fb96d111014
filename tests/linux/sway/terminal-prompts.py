#!/usr/bin/python3
# `orvane` on a headless sway (scripts/sway-desktop.sh), a recorded head turn as its camera,
# with a GTK window on the right output and on the left, one after the other, a foot, a Konsole
# and a GNOME Terminal: while the terminal's program reads a line with echo on, focus follows
# the head away from it; once it asks for a password with echo off (Python's getpass), orvane
# says "secure input" and focus stays. On Wayland the terminal's process comes from sway's
# window record, and its ptys from that process.
#   terminal-prompts.py ORVANE HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL
import importlib.util
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "gnome"), os.path.join(HERE, "..", "support")]
from shell_bus import CLIENTS, report, wait_until  # noqa: E402
from focus_checks import finish, start_client, start_orvane  # noqa: E402
from terminal_checks import (end_prompt, prompt_holds, tell_session_bus,  # noqa: E402
                             terminal_command)


# sway's socket and focus events, as the clip test reads them.
spec = importlib.util.spec_from_file_location("sway_clip", os.path.join(HERE, "focus-clip.py"))
sway_clip = importlib.util.module_from_spec(spec)
spec.loader.exec_module(sway_clip)

FIRST_LEAVE_SECONDS = 180  # the face model loads slowly under the sanitizers
LEAVE_SECONDS = 60
STOP_SECONDS = 15

failures = []


def main():
    orvane, make_clip, calibrate = sys.argv[1:4]
    home = os.environ["HOME"]
    desktop = f"sway {os.environ.get('ORVANE_COMPOSITOR_VERSION', '?')}"
    clip = os.path.join(home, "head-turn.avi")
    subprocess.run([make_clip, clip, "60", "15"], check=True)
    subprocess.run([calibrate], check=True)

    clients = [start_client("gtk-window-at.py", "sway-gtk", "0", "0")]
    if not wait_until(lambda: "sway-gtk" in sway_clip.views(), 30):
        sys.exit(f"FAIL: the GTK window did not appear: {list(sway_clip.views())}")
    gtk = sway_clip.views()["sway-gtk"]["id"]
    sway_clip.Ipc().ask(0, f"[con_id={gtk}] move container to output HEADLESS-2")
    if not wait_until(lambda: sway_clip.views()["sway-gtk"]["rect"]["x"] >= 1920, 10):
        sys.exit("FAIL: the GTK window did not go to the right output")

    watch = sway_clip.FocusWatch()
    process, log_text = start_orvane(orvane, home, clip)
    tell_session_bus()
    for number, name in enumerate(("foot", "Konsole", "GNOME Terminal")):
        title = "sway-" + name.lower().replace(" ", "-")
        flag = os.path.join(home, f"ask-password-{title}")
        terminal = subprocess.Popen(
            terminal_command(name, title) + [os.path.join(CLIENTS, "tty-prompt.sh"), flag],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        clients.append(terminal)
        window = {}

        def shown():
            window.update(next((view for caption, view in sway_clip.views().items()
                                if caption and caption.startswith(title)), {}))
            return bool(window)

        if not wait_until(shown, 60):
            failures.append(f"{desktop}, {name}: its window did not appear")
            continue
        sway_clip.Ipc().ask(0, f"[con_id={window['id']}] move container to output HEADLESS-1")
        prompt_holds(f"{desktop}, {name}", log_text, watch, window["id"], {gtk},
                     lambda: open(flag, "w").close(),
                     FIRST_LEAVE_SECONDS if number == 0 else LEAVE_SECONDS, failures)
        # Konsole (one process a window) ends with it; GNOME Terminal's window goes when its
        # program ends.
        end_prompt(flag)
        terminal.terminate()
        if not wait_until(lambda: all(view["id"] != window["id"]
                                      for view in sway_clip.views().values()), 30):
            failures.append(f"{desktop}, {name}: its window stayed after its program ended")

    text = finish(orvane, process, clients, log_text, STOP_SECONDS, failures, ("sway",))
    return report(text, failures)


if __name__ == "__main__":
    sys.exit(main())
