#!/usr/bin/python3
# `orvane` following the gaze between the split panes of Konsole on a headless sway
# (scripts/sway-desktop.sh) or KWin (scripts/kwin-desktop.sh), a recorded head turn as its
# camera: Konsole fills the left output, two panes side by side, and the keyboard focus goes
# left, right, left, right between them as the accessibility bus sees it. On Wayland a program
# knows no more than where things are inside its own window, so orvane places the panes by the
# window the compositor reports.
#   wayland-panes.py sway|kwin ORVANE HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL
import importlib.util
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "gnome"), os.path.join(HERE, "support")]
from shell_bus import CLIENTS, report, wait_until  # noqa: E402
from focus_checks import finish, start_orvane  # noqa: E402

PANES_SECONDS = 120  # the face model loads slowly under the sanitizers; a sweep takes 4 s
STOP_SECONDS = 15
WIDTH = 1920  # of the left output

failures = []


def fill_left_output_on_kwin():
    """KWin places a new window where it likes, and a client cannot place itself: the test's
    own KWin script moves Konsole's window over the left output."""
    spec = importlib.util.spec_from_file_location("kwin_clip",
                                                  os.path.join(HERE, "kwin", "focus-clip.py"))
    kwin_clip = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(kwin_clip)
    watch = kwin_clip.FocusWatch()

    def konsole():
        return next((c for c in watch.listed if "Konsole" in c), None)

    if not wait_until(lambda: konsole() is not None, 60):
        sys.exit(f"FAIL: Konsole's window did not appear: {watch.listed}")
    kwin_clip.load_script("fill", """
var list = typeof workspace.windowList === 'function' ? workspace.windowList()
                                                      : workspace.clientList();
for (var i = 0; i < list.length; ++i) {
    if (String(list[i].caption).indexOf('Konsole') >= 0) {
        list[i].frameGeometry = {x: 0, y: 0, width: 1920, height: 1080};
    }
}
""")
    if not wait_until(lambda: watch.frames.get(konsole()) == (0, 0), 20):
        sys.exit(f"FAIL: Konsole's window did not go to the left output: {watch.frames}")


def main():
    compositor = sys.argv[1]
    orvane, make_clip, calibrate = sys.argv[2:5]
    home = os.environ["HOME"]
    version = os.environ.get("ORVANE_COMPOSITOR_VERSION", "?")

    focus_log = os.path.join(home, "focus.log")
    watcher = subprocess.Popen(["/usr/bin/python3", os.path.join(CLIENTS, "atspi-focus-watch.py"),
                                "terminal"], stdout=open(focus_log, "w"),
                               stderr=subprocess.STDOUT)

    def focus_lines():
        with open(focus_log) as f:
            return f.read().splitlines()

    if not wait_until(lambda: "watching" in focus_lines(), 20):
        sys.exit(f"FAIL: the accessibility watcher did not start: {focus_lines()}")

    with open(os.path.join(home, "layout.json"), "w") as f:
        f.write('{ "Orientation": "Horizontal", "Widgets": [ { "SessionRestoreId": 0 }, '
                '{ "SessionRestoreId": 0 } ] }')
    # The desktop's user has no login shell, which a user has: the panes run bash.
    terminal = subprocess.Popen(["konsole", "--layout", os.path.join(home, "layout.json")],
                                env=dict(os.environ, SHELL="/bin/bash"),
                                stdout=open(os.path.join(home, "terminal.log"), "w"),
                                stderr=subprocess.STDOUT)

    if compositor == "kwin":
        fill_left_output_on_kwin()

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
        sys.exit(f"FAIL: Konsole's panes never took focus: {focus_lines()}")

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
        return "left right left right" in " ".join(panes(mark)) or process.poll() is not None

    wait_until(both_ways, PANES_SECONDS)
    went = " ".join(panes(mark))
    if "left right left right" in went:
        print(f"{compositor} {version}, Konsole: focus went to the left, right, left, right pane in "
              f"{time.monotonic() - started:.0f} s")
    else:
        failures.append(f"Konsole's panes' focus did not go left, right, left, right; it went "
                        f"to: {went}; Konsole {'ended' if terminal.poll() is not None else 'ran'}")
    if "status: waiting: typing\n" in log_text():
        failures.append("orvane took its own pane keys for typing")

    text = finish(orvane, process, [terminal, watcher], log_text, STOP_SECONDS, failures,
                  ("sway" if compositor == "sway" else "KWin",))
    return report(text, failures)


if __name__ == "__main__":
    sys.exit(main())
