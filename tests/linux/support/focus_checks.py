"""What the head-turn clip tests on every desktop check alike: that focus alternated between
the two sides, how long orvane's switches took to reach the desktop, and what processes cost."""
import os
import re
import statistics
import time

from shell_bus import wait_until


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
