"""What the head-turn clip tests on every desktop check alike: that focus alternated between
the two sides, how long orvane's switches took to reach the desktop, and what processes cost."""
import os
import re
import statistics
import subprocess
import time

from shell_bus import CLIENTS, stop, wait_until


def alternated(windows, left, right):
    """Focus went to a window of `left`, then of `right`, and so again (others ignored)."""
    seen = []
    for window in windows:
        side = "L" if window in left else "R" if window in right else None
        if side and (not seen or seen[-1] != side):
            seen.append(side)
    return "LRLR" in "".join(seen)


def switch_times(log, focused_at):
    """From each switch's start in orvane's log to the desktop's next focus change within a
    second and before the next switch began (both on the monotonic clock), in milliseconds. A
    switch to the window focused already changes nothing, and is not timed."""
    starts = [float(m) for m in re.findall(r"focus switch to .* started at ([0-9.]+) s", log)]
    times = []
    for start, following in zip(starts, starts[1:] + [float("inf")]):
        after = [t for t in focused_at if start <= t < min(start + 1, following)]
        if after:
            times.append((after[0] - start) * 1000)
    return times


def describe_times(times):
    return (f"median {statistics.median(times):.1f} ms, max {max(times):.1f} ms, "
            f"{len(times)} switches")


def cpu_seconds(pid):
    """User and system time of the process so far."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def cpu_share(pids, seconds):
    """The share of one core each process used over the next `seconds`, the loop running."""
    before = [cpu_seconds(pid) for pid in pids]
    started = time.monotonic()
    wait_until(lambda: False, seconds)
    elapsed = time.monotonic() - started
    return [(cpu_seconds(pid) - b) / elapsed for pid, b in zip(pids, before)]


def moves_during(watch, windows, seconds):
    """The windows of `windows` focus went to over the next `seconds` (the loop running), as
    `watch.since` lists them."""
    mark = len(watch.changes)
    wait_until(lambda: False, seconds)
    return [w for w in watch.since(mark) if w in windows]


def hold_over(log_text):
    """Whether orvane's last status is something other than a secure-input hold. Its status
    stays "secure input" after a hold ends until it switches again, so only another status
    since tells that a next hold is the next program's own."""
    text = log_text()
    return not text[text.rfind("status: "):].startswith("status: waiting: secure input\n")


def start_client(script, *arguments):
    """One of the test clients, quiet."""
    return subprocess.Popen(["/usr/bin/python3", os.path.join(CLIENTS, script), *arguments],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def start_orvane(orvane, home, clip):
    """orvane with the clip as its camera, its output in HOME/orvane.log: the process and a
    function that reads the log so far."""
    path = os.path.join(home, "orvane.log")
    log = open(path, "w")
    process = subprocess.Popen([orvane], env=dict(os.environ, ORVANE_CAMERA_FILES=clip),
                               stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)

    def log_text():
        with open(path, errors="replace") as f:
            return f.read()

    return process, log_text


def password_entry_holds(desktop, title, log_text, watch, windows, seconds, failures):
    """A GTK window whose password entry has focus comes up: orvane says "secure input" and
    focus stays off `windows` for `seconds`."""
    logged = len(log_text())
    form = start_client("gtk3-password-form.py", title, "password")
    # As long as the terminal prompts get: a GTK program starting beside a loaded desktop.
    if not wait_until(lambda: "status: waiting: secure input\n" in log_text()[logged:], 30):
        failures.append('orvane did not say "waiting: secure input" for a password entry')
    else:
        moved = moves_during(watch, windows, seconds)
        if moved:
            failures.append(f"focus moved to {moved} from a password entry")
        else:
            print(f"{desktop}: a GTK password entry held focus for {seconds} s")
    form.terminate()
    form.wait()


def finish(orvane, process, clients, log_text, seconds, failures, diagnosis_words):
    """Ends orvane and the clients, then checks that orvane said it stopped and that
    `orvane --diagnose` says each of `diagnosis_words`; orvane's log."""
    stop(process, seconds, failures)
    for child in clients:
        child.terminate()
    text = log_text()
    if "Orvane stopped" not in text:
        failures.append('"Orvane stopped" was not logged')
    diagnosis = subprocess.run([orvane, "--diagnose"], capture_output=True, text=True,
                               timeout=60).stdout
    for wanted in diagnosis_words:
        if wanted not in diagnosis:
            failures.append(f"--diagnose did not say {wanted!r}:\n{diagnosis}")
    return text


def focus_follows(desktop, process, log_text, watch, left, right, first_seconds, seconds,
                  failures, where):
    """Focus goes left, right, left, right within `first_seconds` as the desktop's `watch`
    reports it; prints how long orvane's switches took to reach the desktop and what tracking
    cost orvane over `seconds`. `where` names the desktop's focus change in the timing line."""
    started, mark = time.monotonic(), len(watch.changes)
    if wait_until(lambda: alternated(watch.since(mark), left, right)
                  or process.poll() is not None, first_seconds) and \
            alternated(watch.since(mark), left, right):
        print(f"{desktop}, GTK and Qt: focus went left, right, left, right in "
              f"{time.monotonic() - started:.0f} s")
    else:
        failures.append("focus did not go left, right, left, right; it went to: "
                        f"{watch.since(mark)} (left {left}, right {right})")
    changes = watch.changes[mark:]
    times = switch_times(log_text(), [t for t, window in changes if window in left | right])
    if times:
        print(f"{desktop}: start of switch to {where}, {describe_times(times)}")
    else:
        failures.append(f"no switch was timed; focus changes {changes}")
    if process.poll() is None:
        print(f"{desktop}: while tracking, orvane used "
              f"{cpu_share([process.pid], seconds)[0]:.1%} of a core")


def pause_holds(desktop, press, log_text, watch, windows, seconds, failures):
    """`press` pauses orvane: it says "paused", focus stays off `windows` for `seconds`, and
    pressed again focus moves again."""
    logged = len(log_text())
    press()
    if not wait_until(lambda: "status: paused\n" in log_text()[logged:], 10):
        failures.append('orvane did not say "paused" for its pause hot key')
    moved = moves_during(watch, windows, seconds)
    if moved:
        failures.append(f"focus moved to {moved} while paused")
    else:
        print(f"{desktop}: the pause hot key held focus for {seconds} s")
    press()
    mark = len(watch.changes)
    if not wait_until(lambda: any(w in windows for w in watch.since(mark)), seconds * 2):
        failures.append("focus did not move again once the pause hot key was pressed again")
