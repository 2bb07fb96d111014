#!/usr/bin/python3
# `orvane` on a headless sway (scripts/sway-desktop.sh), a recorded head turn as its camera,
# with a foot terminal on the left output and a GTK window on the right one: while the
# terminal's program reads a line with echo on, focus follows the head away from it; once it
# asks for a password with echo off (Python's getpass), orvane says "secure input" and focus
# stays. On Wayland the terminal's process comes from sway's window record, and its ptys from
# that process.
#   terminal-prompts.py ORVANE HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL
import importlib.util
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "gnome"), os.path.join(HERE, "..", "support")]
from shell_bus import report, wait_until  # noqa: E402
from focus_checks import finish, start_client, start_orvane  # noqa: E402
from terminal_checks import prompt_holds  # noqa: E402

# sway's socket and focus events, as the clip test reads them.
spec = importlib.util.spec_from_file_location("sway_clip", os.path.join(HERE, "focus-clip.py"))
sway_clip = importlib.util.module_from_spec(spec)
spec.loader.exec_module(sway_clip)

FIRST_LEAVE_SECONDS = 180  # the face model loads slowly under the sanitizers
STOP_SECONDS = 15

failures = []


def main():
    orvane, make_clip, calibrate = sys.argv[1:4]
    home = os.environ["HOME"]
    desktop = f"sway {os.environ.get('ORVANE_COMPOSITOR_VERSION', '?')}"
    clip = os.path.join(home, "head-turn.avi")
    subprocess.run([make_clip, clip, "60", "15"], check=True)
    subprocess.run([calibrate], check=True)

    flag = os.path.join(home, "ask-password")
    terminal = subprocess.Popen(
        ["foot", "--title", "sway-foot", os.path.join(HERE, "..", "clients", "tty-prompt.sh"),
         flag], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    clients = [terminal, start_client("gtk-window-at.py", "sway-gtk", "0", "0")]
    titles = ("sway-foot", "sway-gtk")
    if not wait_until(lambda: all(t in sway_clip.views() for t in titles), 30):
        sys.exit(f"FAIL: the windows did not appear: {list(sway_clip.views())}")
    ids = {title: sway_clip.views()[title]["id"] for title in titles}
    sway_clip.Ipc().ask(0, f"[con_id={ids['sway-gtk']}] move container to output HEADLESS-2")
    if not wait_until(lambda: sway_clip.views()["sway-gtk"]["rect"]["x"] >= 1920, 10):
        sys.exit("FAIL: the GTK window did not go to the right output")

    watch = sway_clip.FocusWatch()
    process, log_text = start_orvane(orvane, home, clip)
    prompt_holds(f"{desktop}, foot", log_text, watch, ids["sway-foot"], {ids["sway-gtk"]},
                 lambda: open(flag, "w").close(), FIRST_LEAVE_SECONDS, failures)

    text = finish(orvane, process, clients, log_text, STOP_SECONDS, failures, ("sway",))
    return report(text, failures)


if __name__ == "__main__":
    sys.exit(main())
