#!/usr/bin/python3
# `orvane` following the gaze between the split panes of a terminal on a headless sway
# (scripts/sway-desktop.sh), KWin (scripts/kwin-desktop.sh) or GNOME Shell
# (scripts/gnome-desktop.sh with the bridge and the test shell), a recorded head turn as its
# camera: the terminal fills the left output, two panes side by side, and the keyboard focus
# goes left, right, left, right between them as the accessibility bus sees it. On Wayland a
# program knows no more than where things are inside its own window, so orvane places the panes
# by the window the compositor reports. Konsole runs on sway and KWin, Terminator on sway and
# GNOME Shell.
#   wayland-panes.py sway|kwin|gnome konsole|terminator ORVANE HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL
import importlib.util
import os
import pwd
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "gnome"), os.path.join(HERE, "support")]
from shell_bus import BRIDGE, CLIENTS, call, report, wait_until  # noqa: E402
from focus_checks import finish, start_orvane  # noqa: E402

PANES_SECONDS = 120  # the face model loads slowly under the sanitizers; a sweep takes 4 s
STOP_SECONDS = 15
WIDTH = 1920  # of the left output

# Two panes side by side in a maximised window, as Terminator's layout editor writes them.
TERMINATOR_CONFIG = """[global_config]
[profiles]
  [[default]]
[layouts]
  [[panes]]
    [[[window0]]]
      type = Window
      parent = ""
      maximised = True
    [[[split]]]
      type = HPaned
      parent = window0
      ratio = 0.5
    [[[left]]]
      type = Terminal
      parent = split
      profile = default
    [[[right]]]
      type = Terminal
      parent = split
      profile = default
"""

failures = []


def start_konsole(home):
    with open(os.path.join(home, "layout.json"), "w") as f:
        f.write('{ "Orientation": "Horizontal", "Widgets": [ { "SessionRestoreId": 0 }, '
                '{ "SessionRestoreId": 0 } ] }')
    return ["konsole", "--layout", os.path.join(home, "layout.json")]


def start_terminator(home):
    config = os.path.join(os.environ.get("XDG_CONFIG_HOME", os.path.join(home, ".config")),
                          "terminator")
    os.makedirs(config, exist_ok=True)
    with open(os.path.join(config, "config"), "w") as f:
        f.write(TERMINATOR_CONFIG)
    return ["terminator", "--layout", "panes"]


# Each terminal: its name, how it is opened, and what its window's caption holds (for KWin's
# script, which finds windows by caption; None: not run on KWin).
TERMINALS = {
    "konsole": ("Konsole", start_konsole, "Konsole"),
    "terminator": ("Terminator", start_terminator, None),
}


def fill_left_output_on_kwin(name, caption_word):
    """KWin places a new window where it likes, and a client cannot place itself: the test's
    own KWin script moves the terminal's window over the left output."""
    spec = importlib.util.spec_from_file_location("kwin_clip",
                                                  os.path.join(HERE, "kwin", "focus-clip.py"))
    kwin_clip = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(kwin_clip)
    watch = kwin_clip.FocusWatch()

    def window():
        return next((c for c in watch.listed if caption_word in c), None)

    if not wait_until(lambda: window() is not None, 60):
        sys.exit(f"FAIL: {name}'s window did not appear: {watch.listed}")
    kwin_clip.load_script("fill", f"""
var list = typeof workspace.windowList === 'function' ? workspace.windowList()
                                                      : workspace.clientList();
for (var i = 0; i < list.length; ++i) {{
    if (String(list[i].caption).indexOf('{caption_word}') >= 0) {{
        list[i].frameGeometry = {{x: 0, y: 0, width: 1920, height: 1080}};
    }}
}}
""")
    if not wait_until(lambda: watch.frames.get(window()) == (0, 0), 20):
        sys.exit(f"FAIL: {name}'s window did not go to the left output: {watch.frames}")


def wait_for_left_output_on_gnome(name, pid):
    """The shell maximises the window, as the terminal's own layout asks, on the monitor it
    opens it on: the left one."""
    frames = []

    def filled():
        frames[:] = [row[5] for row in call(BRIDGE, "GetWindows",
                                            reply="(a(tusss(iiii)(iiii)ibb))")[0]
                     if row[1] == pid]
        return any(x == 0 and width == WIDTH for x, _, width, _ in frames)

    if not wait_until(filled, 60):
        sys.exit(f"FAIL: {name}'s window did not fill the left monitor: {frames}")


def main():
    compositor, terminal_key = sys.argv[1:3]
    orvane, make_clip, calibrate = sys.argv[3:6]
    name, command_for, caption_word = TERMINALS[terminal_key]
    if compositor == "kwin" and caption_word is None:
        sys.exit(f"usage: {name} is not placed on KWin")
    home = os.environ["HOME"]
    version = os.environ.get("ORVANE_COMPOSITOR_VERSION",
                             os.environ.get("ORVANE_GNOME_SHELL_VERSION", "?"))
    desktop = {"sway": "sway", "kwin": "KWin", "gnome": "GNOME"}[compositor]

    focus_log = os.path.join(home, "focus.log")
    watcher = subprocess.Popen(["/usr/bin/python3", os.path.join(CLIENTS, "atspi-focus-watch.py"),
                                "terminal"], stdout=open(focus_log, "w"),
                               stderr=subprocess.STDOUT)

    def focus_lines():
        with open(focus_log) as f:
            return f.read().splitlines()

    if not wait_until(lambda: "watching" in focus_lines(), 20):
        sys.exit(f"FAIL: the accessibility watcher did not start: {focus_lines()}")

    # A login sets SHELL from the passwd database, and Konsole's panes run it; the desktops
    # start no login.
    terminal = subprocess.Popen(command_for(home),
                                env=dict(os.environ, SHELL=pwd.getpwuid(os.getuid()).pw_shell),
                                stdout=open(os.path.join(home, "terminal.log"), "w"),
                                stderr=subprocess.STDOUT)

    if compositor == "kwin":
        fill_left_output_on_kwin(name, caption_word)
    elif compositor == "gnome":
        wait_for_left_output_on_gnome(name, terminal.pid)

    def panes(after):
        """Left or right of the output's middle, for each pane that gained focus after line
        `after`; each change once. Inside its window, which fills the left output."""
        seen = []
        for line in focus_lines()[after:]:
            fields = line.split()
            if len(fields) == 5 and fields[0] == "terminal":
                side = "left" if int(fields[1]) + int(fields[3]) / 2 < WIDTH / 2 else "right"
                if not seen or seen[-1] != side:
                    seen.append(side)
        return seen

    if not wait_until(lambda: panes(0), 60):
        sys.exit(f"FAIL: {name}'s panes never took focus: {focus_lines()}; {name} "
                 f"{'ended' if terminal.poll() is not None else 'ran'}")

    # The calibration maps 35 degrees of yaw to each side of the left output: the clip's 20
    # degrees reach about 550 points either side of its middle, well into each pane. The face in
    # the clip measures about 11 degrees down: that is put at mid-height, inside the panes.
    clip = os.path.join(home, "head-turn.avi")
    subprocess.run([make_clip, clip, "60", "15"], check=True)
    subprocess.run([calibrate, "35", "--pitch", "-11", "--display", "0"], check=True)
    mark = len(focus_lines())
    process, log_text = start_orvane(orvane, home, clip)
    started = time.monotonic()

    def both_ways():
        return "left right left right" in " ".join(panes(mark)) or \
            process.poll() is not None or terminal.poll() is not None

    wait_until(both_ways, PANES_SECONDS)
    went = " ".join(panes(mark))
    if "left right left right" in went:
        print(f"{desktop} {version}, {name}: focus went to the left, right, left, right pane in "
              f"{time.monotonic() - started:.0f} s")
    else:
        failures.append(f"{name}'s panes' focus did not go left, right, left, right; it went "
                        f"to: {went}; {name} {'ended' if terminal.poll() is not None else 'ran'}")
    if "status: waiting: typing\n" in log_text():
        failures.append("orvane took its own pane keys for typing")

    text = finish(orvane, process, [terminal, watcher], log_text, STOP_SECONDS, failures,
                  (desktop,))
    return report(text, failures)


if __name__ == "__main__":
    sys.exit(main())
