# What the scripts on the headless GNOME Shell share: the session bus, the bridge's and the
# test shell's names, calls to them, and waiting on the main loop.
import os
import re
import signal
import subprocess
import time

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

CLIENTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "clients")
BRIDGE = ("net.orvane.Bridge", "/net/orvane/Bridge", "net.orvane.Bridge1")
TEST_SHELL = ("net.orvane.TestShell", "/net/orvane/TestShell", "net.orvane.TestShell")
INDICATOR = "orvane-indicator"

bus = Gio.bus_get_sync(Gio.BusType.SESSION)


def call(target, method, signature=None, args=(), reply=None):
    name, path, interface = target
    parameters = GLib.Variant(signature, args) if signature else None
    result = bus.call_sync(name, path, interface, method, parameters,
                           GLib.VariantType(reply) if reply else None,
                           Gio.DBusCallFlags.NONE, 10000, None)
    return result.unpack() if result is not None else None


def bridge_property(name):
    """FocusWindow, OverviewActive, ShellModal or ShellVersion, as the bridge says now."""
    return call(BRIDGE, "GetState", reply="(a{sv})")[0][name]


def wait_until(predicate, seconds):
    """Runs the main loop until `predicate` holds or `seconds` pass; whether it held."""
    context = GLib.MainContext.default()
    deadline = time.monotonic() + seconds
    while not predicate():
        if time.monotonic() >= deadline:
            return False
        GLib.timeout_add(100, lambda: False)  # wakes the loop to look again
        context.iteration(True)
    return True


def menu_labels():
    """The items of orvane's top-bar menu; none while it is not in the top bar (yet)."""
    try:
        return call(TEST_SHELL, "MenuItemLabels", "(s)", (INDICATOR,), "(as)")[0]
    except GLib.Error:
        return []


def stop(process, seconds, failures):
    """Ends orvane by SIGTERM, as the session does; what went wrong goes to `failures`."""
    if process.poll() is not None:
        failures.append(f"orvane ended early with status {process.returncode}")
        return
    process.send_signal(signal.SIGTERM)
    try:
        status = process.wait(seconds)
        if status != 0:
            failures.append(f"orvane exited with status {status}")
    except subprocess.TimeoutExpired:
        process.kill()
        failures.append(f"orvane did not end within {seconds} s of SIGTERM")


def report(log, failures, log_tail=6000):
    """The script's exit status, after the sanitizers' word in orvane's log is looked at. On
    failure prints the last `log_tail` characters of the log; None: all of it."""
    if re.search(r"ERROR: (Address|Leak)Sanitizer|runtime error:", log):
        failures.append("the sanitizers reported a fault")
    if failures:
        shown = log if log_tail is None else log[-log_tail:]
        print("--- orvane's log ---\n" + shown)
        for failure in failures:
            print("FAIL: " + failure)
        return 1
    print("every check passed")
    return 0
