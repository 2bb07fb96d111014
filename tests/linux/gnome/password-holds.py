#!/usr/bin/python3
# `orvane` on a headless GNOME Shell (scripts/gnome-desktop.sh with the bridge and the test
# shell loaded), a recorded head turn as its camera, a GTK window on the right monitor and on
# the left, one after the other:
#  - a GNOME Terminal, a foot and a Konsole terminal whose program first reads a line with echo
#    on (focus follows the head away from it), then asks for a password with echo off (Python's
#    getpass: orvane says "secure input" and focus stays). GNOME Terminal's windows and tabs all
#    belong to one gnome-terminal-server, whose ptys orvane reads;
#  - Firefox ESR, then Chromium, as people run them, on a sign-in page: its password field
#    holds focus, its user-name field lets it go. The desktop switched the accessibility bus on
#    before anything started, as a user's session does once Orvane's set-up has.
#   password-holds.py ORVANE HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL
import importlib.util
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from shell_bus import BRIDGE, CLIENTS, TEST_SHELL, call, report, wait_until  # noqa: E402
from focus_checks import finish, hold_over, moves_during, start_orvane  # noqa: E402
from firefox_profile import firefox_command, page  # noqa: E402
from terminal_checks import (HOLD_SECONDS, end_prompt, prompt_holds,  # noqa: E402
                             tell_session_bus, terminal_command)

# The shell's focus events and window placing, as the clip test does them.
spec = importlib.util.spec_from_file_location("gnome_clip", os.path.join(HERE, "focus-clip.py"))
gnome_clip = importlib.util.module_from_spec(spec)
spec.loader.exec_module(gnome_clip)

FIRST_LEAVE_SECONDS = 180  # the face model loads slowly under the sanitizers
LEAVE_SECONDS = 60
STOP_SECONDS = 15
KEY_SHIFT, KEY_TAB = 0xffe1, 0xff09
PAGE = page("password-page.html")

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


def close(process, flag=None, title=None):
    """Ends the terminal's program (with `flag`), then the command that opened the window, and
    waits until the window titled `title` is gone. GNOME Terminal's window belongs to its server
    and outlives the command: left open, its password prompt would go on holding focus on that
    monitor."""
    if flag:
        end_prompt(flag)
    process.terminate()
    try:
        process.wait(20)
    except subprocess.TimeoutExpired:
        process.kill()
    if title and not wait_until(lambda: not any(row[3].startswith(title) for row in windows()), 20):
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


def keys(*keyvals, shift=False):
    if shift:
        call(TEST_SHELL, "KeyPress", "(u)", (KEY_SHIFT,))
    for keyval in keyvals:
        call(TEST_SHELL, "KeyTap", "(u)", (keyval,))
    if shift:
        call(TEST_SHELL, "KeyRelease", "(u)", (KEY_SHIFT,))


def browser_fields(name, command, gtk_window, watch, log_text):
    if not wait_until(lambda: hold_over(log_text), LEAVE_SECONDS):
        failures.append(f"{name}: orvane still held focus from the hold before")
        return None
    logged = len(log_text())
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    window = window_titled("password page", 90)
    if window is None:
        failures.append(f"{name}: its window did not appear")
        close(process)
        return process

    # The page focuses its password field as it loads, and a new window has focus: it holds.
    if not wait_until(lambda: "status: waiting: secure input\n" in log_text()[logged:], 90):
        failures.append(f'{name}: orvane did not say "waiting: secure input" for its password '
                        "field")
        return close_browser(name, process, window)
    moved = moves_during(watch, {gtk_window}, HOLD_SECONDS)
    if moved:
        failures.append(f"{name}: focus moved to {moved} from its password field")
    else:
        print(f"GNOME, {name}: its password field held focus for {HOLD_SECONDS} s")
    # Shift+Tab to the user-name field, in the window the hold kept focused: focus goes.
    mark = len(watch.changes)
    keys(KEY_TAB, shift=True)
    if wait_until(lambda: gtk_window in watch.since(mark), LEAVE_SECONDS):
        print(f"GNOME, {name}: focus left the browser from its user-name field")
    else:
        failures.append(f"{name}: focus stayed in its user-name field: {watch.since(mark)}")
    return close_browser(name, process, window)


def close_browser(name, process, window):
    """Ends the browser and waits for its window to go, before the next one comes with the
    same page; the process."""
    close(process)
    if not wait_until(lambda: all(row[0] != window for row in windows()), 30):
        failures.append(f"{name}: its window stayed after it ended")
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

    tell_session_bus()
    for number, name in enumerate(("GNOME Terminal", "foot", "Konsole")):
        title = "holds-" + name.lower().replace(" ", "-")
        clients.append(terminal_prompt(name, terminal_command(name, title), title, gtk_window,
                                       watch, log_text,
                                       FIRST_LEAVE_SECONDS if number == 0 else LEAVE_SECONDS))
    # Chromium: as root it has no sandbox; the other flags skip its first-run questions and
    # the keyring, as a profile in use does, and give it the size of a window that was used.
    # None of them touches accessibility.
    chromium = ["chromium", "--no-sandbox", "--no-first-run", "--password-store=basic",
                "--window-size=900,600", "--user-data-dir=" + os.path.join(home, "chromium"), PAGE]
    for name, command in (("Firefox", firefox_command(home, PAGE)), ("Chromium", chromium)):
        browser = browser_fields(name, command, gtk_window, watch, log_text)
        if browser is not None:
            clients.append(browser)

    text = finish(orvane, process, clients, log_text, STOP_SECONDS, failures, ("GNOME",))
    return report(text, failures)


if __name__ == "__main__":
    sys.exit(main())
