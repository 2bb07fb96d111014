#!/usr/bin/python3
# `orvane` on a headless KWin (scripts/kwin-desktop.sh), a recorded head turn as its camera, a
# GTK window on the right output and on the left, one after the other, a Konsole, a GNOME
# Terminal and a foot terminal whose program first reads a line with echo on (focus follows the
# head away from it), then asks for a password with echo off (Python's getpass: orvane says
# "secure input" and focus stays); each terminal's window goes with its program before the next
# one opens. The terminal's process comes from KWin's window record (GNOME Terminal's is its
# server, started by the session bus, which holds the ptys of all its windows). Then Firefox ESR
# and Chromium as people run them (the accessibility bus switched on before anything started): a
# page that focuses its password field holds focus, one that focuses its user-name field lets it
# go. Nothing here can type, so each page focuses its own.
#   terminal-prompts.py ORVANE HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL
#
# ORVANE_FOOT_ROOT: a Debian 13 root holding foot (scripts/debian13-root.sh DIR foot). foot
# 1.13, Debian 12's, divides by zero on an output without a physical size, which every KWin
# output has but a real monitor's (virtual and nested alike, KWin 5.27 and 6); foot 1.21 from
# Debian 13 takes such an output, so it runs here, unchanged, from its root's libraries.
import importlib.util
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "gnome"), os.path.join(HERE, "..", "support")]
from shell_bus import CLIENTS, report, wait_until  # noqa: E402
from focus_checks import finish, hold_over, moves_during, start_client, start_orvane  # noqa: E402
from firefox_profile import firefox_command, page  # noqa: E402
from terminal_checks import (HOLD_SECONDS, end_prompt, prompt_holds,  # noqa: E402
                             tell_session_bus, terminal_command, went)

# KWin's activations (by caption) and window placing, as the clip test does them.
spec = importlib.util.spec_from_file_location("kwin_clip", os.path.join(HERE, "focus-clip.py"))
kwin_clip = importlib.util.module_from_spec(spec)
spec.loader.exec_module(kwin_clip)

FIRST_LEAVE_SECONDS = 180  # the face model loads slowly under the sanitizers
LEAVE_SECONDS = 60
STOP_SECONDS = 15
END_SECONDS = 30  # for a terminal to close its window once its program ended, under load

failures = []


class ByName:
    """KWin's activations with each caption cut to the terminal's name it starts with: a
    terminal's caption follows the program it runs."""

    def __init__(self, watch, names):
        self._watch, self._names = watch, names

    @property
    def changes(self):
        return self._watch.changes

    def _name(self, caption):
        return next((n for n in self._names if caption.startswith(n)), caption)

    def since(self, index):
        windows = []
        for window in self._watch.since(index):
            name = self._name(window)
            if not windows or windows[-1] != name:
                windows.append(name)
        return windows


def debian13_foot():
    """The command that runs the root's foot with the root's own loader and libraries (its
    programs, the prompt included, are this system's); None without such a root."""
    root = os.environ.get("ORVANE_FOOT_ROOT", "")
    loader = os.path.join(root, "usr/lib64/ld-linux-x86-64.so.2")
    foot = os.path.join(root, "usr/bin/foot")
    if not root or not os.path.exists(loader) or not os.path.exists(foot):
        return None
    return [loader, "--library-path", os.path.join(root, "usr/lib/x86_64-linux-gnu"), foot]


def place(raw, prefix, x, y):
    """Moves the window whose caption starts with `prefix` to (x, y), again while KWin has it
    elsewhere (a program may still place a window it has shown); whether KWin has it there."""
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        caption = next((c for c in raw.listed if c.startswith(prefix)), None)
        if caption is not None:
            kwin_clip.place({caption: (x, y)})
            if wait_until(lambda: any(c.startswith(prefix) and frame == (x, y)
                                      for c, frame in raw.frames.items()), 0.5):
                return True
        else:
            wait_until(lambda: False, 0.5)
    return False


def browser_page(raw, name, command, title):
    """The browser `name` started by `command(url)` on the client page titled `title` (its file
    named so, with dashes), its window moved to the left output: the process and the window's
    caption (which names the browser), or None for a window that did not appear."""
    url = page(title.replace(" ", "-") + ".html")
    process = subprocess.Popen(command(url), stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    shown = {}

    def listed():
        shown["caption"] = next((c for c in raw.listed if c.startswith(title) and name in c),
                                None)
        return shown["caption"] is not None

    if not wait_until(listed, 90):
        failures.append(f"{name}: its window for {title} did not appear: {raw.listed}")
        return process, None
    place(raw, shown["caption"], 100, 100)
    return process, shown["caption"]


def close(process):
    """Ends `process` by SIGTERM, by SIGKILL when it lingers."""
    if process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(20)
    except subprocess.TimeoutExpired:
        process.kill()
        try:
            process.wait(20)
        except subprocess.TimeoutExpired:
            pass  # stuck in the kernel: its window tells


def process_states(pids):
    """What ps says of each process of `pids` and of all their descendants: state and the
    kernel function it waits in (a process stuck in the kernel, as while its core is dumped,
    keeps its windows)."""
    children = {}
    for line in subprocess.run(["ps", "-e", "-o", "pid=,ppid="], capture_output=True,
                               text=True).stdout.splitlines():
        pid, parent = map(int, line.split())
        children.setdefault(parent, []).append(pid)
    tree, todo = [], [pid for pid in pids if pid]
    while todo:
        pid = todo.pop(0)
        if pid not in tree:
            tree.append(pid)
            todo += children.get(pid, [])
    if not tree:
        return "  no process known"
    return subprocess.run(["ps", "-o", "pid,ppid,stat,wchan:32,cmd", "-p",
                           ",".join(map(str, tree))], capture_output=True, text=True).stdout


def end_terminal(name, caption, flag, terminal, raw):
    """Ends the terminal's program as a user does; the terminal then closes its window and,
    but for GNOME Terminal's server, ends. Only a terminal that does neither within
    END_SECONDS is ended by signal (after what it was doing is printed): ending it while its
    program was still ending raced its own shut-down."""
    def window_gone():
        return not any(c.startswith(caption) for c in raw.listed)

    end_prompt(flag)
    if wait_until(lambda: window_gone() and terminal.poll() is not None, END_SECONDS):
        return
    kwin_answered = raw.refresh(10)
    print(f"{name}: {END_SECONDS} s after its program ended its window "
          f"{'went' if window_gone() else 'stayed'} and it "
          f"{'ended' if terminal.poll() is not None else 'ran'}; KWin "
          f"{'listed' if kwin_answered else 'did not list again, last listed'} its windows "
          f"(caption: frame, process):\n{raw.describe()}")
    pids = {terminal.pid} | {pid for c, *_, pid in raw.windows if c.startswith(caption) and pid}
    print(f"{name}: its processes:\n{process_states(sorted(pids))}")
    print(f"KWin's process:\n{process_states([int(os.environ.get('ORVANE_KWIN_PID', 0))])}")
    close(terminal)
    if not wait_until(window_gone, END_SECONDS):
        failures.append(f"{name}: its window stayed after its program ended, and after it was "
                        f"ended: {raw.listed}")


def browser_fields(desktop, name, command, raw, watch, log_text):
    if not wait_until(lambda: hold_over(log_text), LEAVE_SECONDS):
        failures.append(f"{name}: orvane still held focus from the hold before")
        return
    logged = len(log_text())
    process, caption = browser_page(raw, name, command, "password page")
    if caption is not None:
        if not wait_until(lambda: "status: waiting: secure input\n" in log_text()[logged:], 90):
            failures.append(f'{name}: orvane did not say "waiting: secure input" for its '
                            "password field")
        else:
            moved = moves_during(watch, {"kwin-gtk"}, HOLD_SECONDS)
            if moved:
                failures.append(f"{name}: focus moved to {moved} from its password field")
            else:
                print(f"{desktop}, {name}: its password field held focus for {HOLD_SECONDS} s")
    close(process)
    mark = len(watch.changes)
    process, caption = browser_page(raw, name, command, "user-name page")
    if caption is not None:
        if wait_until(lambda: went(watch, mark, "user-name page", "kwin-gtk"), LEAVE_SECONDS):
            print(f"{desktop}, {name}: focus left the browser from its user-name field")
        else:
            failures.append(f"{name}: focus did not go to its user-name field and leave it: "
                            f"{watch.since(mark)}")
    close(process)


def chromium_command(url):
    # As root it has no sandbox; the other flags skip its first-run questions and the keyring,
    # as a profile in use does, and give it the size of a window that was used. None of them
    # touches accessibility.
    return ["chromium", "--no-sandbox", "--no-first-run", "--password-store=basic",
            "--window-size=900,600",
            "--user-data-dir=" + os.path.join(os.environ["HOME"], "chromium"), url]


def main():
    orvane, make_clip, calibrate = sys.argv[1:4]
    home = os.environ["HOME"]
    desktop = f"KWin {os.environ.get('ORVANE_COMPOSITOR_VERSION', '?')}"
    clip = os.path.join(home, "head-turn.avi")
    subprocess.run([make_clip, clip, "90", "15"], check=True)
    subprocess.run([calibrate], check=True)

    raw = kwin_clip.FocusWatch()
    terminals = {name: (title, terminal_command(name, title))
                 for name, title in (("Konsole", "holds-konsole"),
                                     ("GNOME Terminal", "holds-gnome-terminal"))}
    foot = debian13_foot()
    if foot:
        terminals["foot"] = ("holds-foot", foot + ["--title", "holds-foot"])
    else:
        # As the Debian 13 tests skip when its root cannot be made (debian13.foot_root says so).
        print("foot: SKIPPED: no Debian 13 root holding it in ORVANE_FOOT_ROOT")
    watch = ByName(raw, [caption for caption, _ in terminals.values()] +
                   ["password page", "user-name page"])
    clients = [start_client("gtk-window-at.py", "kwin-gtk", "0", "0")]
    if not wait_until(lambda: "kwin-gtk" in raw.listed, 20):
        sys.exit(f"FAIL: the GTK window did not appear: {raw.listed}")
    if not place(raw, "kwin-gtk", 2300, 200):
        sys.exit(f"FAIL: the GTK window did not go to the right output: {raw.frames}")
    process, log_text = start_orvane(orvane, home, clip)
    tell_session_bus()

    first = True
    for name, (caption, command) in terminals.items():
        flag = os.path.join(home, f"ask-password-{caption}")
        terminal = subprocess.Popen(command + [os.path.join(CLIENTS, "tty-prompt.sh"), flag],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        clients.append(terminal)
        if not wait_until(lambda: any(c.startswith(caption) for c in raw.listed), 60):
            failures.append(f"{name}: its window did not appear: {raw.listed}")
        elif not place(raw, caption, 100, 100):
            failures.append(f"{name}: its window did not go to the left output: {raw.frames}")
        else:
            failed = len(failures)
            prompt_holds(f"{desktop}, {name}", log_text, watch, caption, {"kwin-gtk"},
                         lambda: open(flag, "w").close(),
                         FIRST_LEAVE_SECONDS if first else LEAVE_SECONDS, failures)
            if len(failures) > failed:
                print(f"{name}: KWin has the windows (caption: frame) {raw.frames}")
            first = False
        # GNOME Terminal's window belongs to its server, which outlives the command that
        # opened it: the window goes when its program ends.
        end_terminal(name, caption, flag, terminal, raw)
    browser_fields(desktop, "Firefox", lambda url: firefox_command(home, url), raw, watch,
                   log_text)
    browser_fields(desktop, "Chromium", chromium_command, raw, watch, log_text)

    text = finish(orvane, process, clients, log_text, STOP_SECONDS, failures, ("KWin",))
    if failures:
        print(f"KWin's windows at the end (caption: frame, process):\n{raw.describe()}")
    return report(text, failures, log_tail=None)


if __name__ == "__main__":
    sys.exit(main())
