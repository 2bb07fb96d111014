#!/usr/bin/python3
# `orvane` on a headless GNOME Shell (scripts/gnome-desktop.sh with the bridge and the test
# shell loaded), a recorded head turn as its camera, a GTK window on the right monitor and on
# the left, one after the other, a GNOME Terminal and a foot terminal whose program first
# reads a line with echo on (focus follows the head away from it), then asks for a password
# with echo off (Python's getpass: orvane says "secure input" and focus stays). GNOME
# Terminal's windows and tabs all belong to one gnome-terminal-server, whose ptys orvane reads.
#   password-holds.py ORVANE HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL
import importlib.util
import os
import signal
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from shell_bus import BRIDGE, CLIENTS, Gio, GLib, bus, call, report, wait_until  # noqa: E402
from focus_checks import finish, start_orvane  # noqa: E402
from terminal_checks import prompt_holds  # noqa: E402

# The shell's focus events and window placing, as the clip test does them.
spec = importlib.util.spec_from_file_location("gnome_clip", os.path.join(HERE, "focus-clip.py"))
gnome_clip = importlib.util.module_from_spec(spec)
spec.loader.exec_module(gnome_clip)

FIRST_LEAVE_SECONDS = 180  # the face model loads slowly under the sanitizers
LEAVE_SECONDS = 60
STOP_SECONDS = 15

failures = []


def windows():
    return call(BRIDGE, "GetWindows", reply="(a(tusss(iiii)(iiii)ibb))")[0]


def window_titled(prefix, seconds=60):
    """The id of the shown window whose title starts with `prefix`, moved to the left monitor."""
    found = {}

    def listed():
        for row in windows():
            if row[3].startswith(prefix) and row[5][2] > 0:
                found["id"], found["title"] = row[0], row[3]
                return True
        return False

    if not wait_until(listed, seconds):
        return None
    return gnome_clip.place_window(found["title"], 100, 100)


def close(process, flag, title):
    """Ends the terminal's program, then the command that opened the terminal, and waits
    until the window is gone. GNOME Terminal's window belongs to its server and outlives the
    command: left open, its password prompt would go on holding focus on that monitor."""
    try:
        with open(flag + ".pid") as f:
            os.kill(int(f.read()), signal.SIGHUP)
    except (OSError, ValueError):
        pass
    process.terminate()
    try:
        process.wait(20)
    except subprocess.TimeoutExpired:
        process.kill()
    if not wait_until(lambda: not any(row[3].startswith(title) for row in windows()), 20):
        failures.append(f"the window {title} stayed open after its program ended: {windows()}")


def terminal_prompt(name, command, title, gtk_window, watch, log_text, first_seconds):
    flag = os.path.join(os.environ["HOME"], f"ask-password-{title}")
    process = subprocess.Popen(command + [os.path.join(CLIENTS, "tty-prompt.sh"), flag],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    window = window_titled(title)
    if window is None:
        failures.append(f"{name}: its window did not appear")
    else:
        failed = len(failures)
        prompt_holds(f"GNOME, {name}", log_text, watch, window, {gtk_window},
                     lambda: open(flag, "w").close(), first_seconds, failures)
        if len(failures) > failed:
            print(f"{name} is window {window}; the shell lists (id, pid, app, title, type, "
                  f"frame, buffer, monitor, above, minimized): {windows()}")
    close(process, flag, title)
    return process


def main():
    orvane, make_clip, calibrate = sys.argv[1:4]
    home = os.environ["HOME"]
    clip = os.path.join(home, "head-turn.avi")
    subprocess.run([make_clip, clip, "90", "15"], check=True)
    subprocess.run([calibrate], check=True)

    gtk, gtk_window = gnome_clip.start_window(
        ["/usr/bin/python3", os.path.join(CLIENTS, "gtk-window-at.py"), "holds-gtk", "0", "0"],
        "holds-gtk", 2300, 200, GDK_BACKEND="wayland")
    clients = [gtk]
    watch = gnome_clip.FocusWatch()
    process, log_text = start_orvane(orvane, home, clip)

    # GNOME Terminal refuses a locale that is not UTF-8. Its server is started by the session
    # bus, which learns the display and the session's folders as a desktop session tells it.
    os.environ.setdefault("LANG", "C.UTF-8")
    told = {k: v for k, v in os.environ.items()
            if k in ("WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME",
                     "XDG_CACHE_HOME", "HOME", "GDK_BACKEND", "LANG", "GSETTINGS_BACKEND",
                     "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP")}
    bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                  "UpdateActivationEnvironment", GLib.Variant("(a{ss})", (told,)), None,
                  Gio.DBusCallFlags.NONE, 10000, None)
    clients.append(terminal_prompt(
        "GNOME Terminal", ["gnome-terminal", "--wait", "--title", "holds-gnome-terminal", "--"],
        "holds-gnome-terminal", gtk_window, watch, log_text, FIRST_LEAVE_SECONDS))
    clients.append(terminal_prompt("foot", ["foot", "--title", "holds-foot"], "holds-foot",
                                   gtk_window, watch, log_text, LEAVE_SECONDS))

    text = finish(orvane, process, clients, log_text, STOP_SECONDS, failures, ("GNOME",))
    return report(text, failures)


if __name__ == "__main__":
    sys.exit(main())
