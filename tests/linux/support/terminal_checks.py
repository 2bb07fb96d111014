"""What the terminal password-prompt tests check on every desktop alike."""
import os
import signal

from focus_checks import moves_during
from shell_bus import Gio, GLib, bus, wait_until

HOLD_SECONDS = 10  # two turns of the clip: a switch not held would happen within them


def went(watch, mark, *windows):
    """Focus went to each of `windows` in turn after change `mark` (others in between)."""
    seen = watch.since(mark)
    at = 0
    for window in seen:
        if at < len(windows) and window == windows[at]:
            at += 1
    return at == len(windows)


def prompt_holds(desktop, log_text, watch, terminal, others, ask_password, first_seconds,
                 failures):
    """With the terminal's program reading a line with echo on, focus goes to `terminal` and
    leaves it for one of `others` (the control); then `ask_password()` has it ask for a
    password with echo off: orvane says "secure input" and focus stays on `terminal`."""
    mark = len(watch.changes)
    if wait_until(lambda: any(went(watch, mark, terminal, other) for other in others),
                  first_seconds):
        print(f"{desktop}: focus left the terminal at a prompt with echo on")
    else:
        failures.append(f"{desktop}: focus did not go to the terminal and leave it at a prompt "
                        f"with echo on; it went to {watch.since(mark)}")
    logged = len(log_text())
    ask_password()
    if not wait_until(lambda: "status: waiting: secure input\n" in log_text()[logged:], 30):
        failures.append(f'{desktop}: orvane did not say "waiting: secure input" for a password '
                        "prompt with echo off")
        return
    moved = moves_during(watch, others, HOLD_SECONDS)
    if moved:
        failures.append(f"{desktop}: focus moved to {moved} from a password prompt")
    else:
        print(f"{desktop}: a password prompt with echo off held focus for {HOLD_SECONDS} s")


def terminal_command(name, title):
    """How a user opens terminal `name` with window title `title` and a command after it."""
    return {
        "foot": ["foot", "--title", title],
        "Konsole": ["konsole", "--separate", "-p", f"tabtitle={title}", "-e"],
        "GNOME Terminal": ["gnome-terminal", "--wait", "--title", title, "--"],
    }[name]


def tell_session_bus():
    """GNOME Terminal's server is started by the session bus, which learns the display and the
    session's folders as a desktop session tells it; and it refuses a locale that is not UTF-8."""
    os.environ.setdefault("LANG", "C.UTF-8")
    told = {k: v for k, v in os.environ.items()
            if k in ("WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME",
                     "XDG_DATA_HOME", "XDG_CACHE_HOME", "HOME", "GDK_BACKEND", "LANG",
                     "GSETTINGS_BACKEND", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP")}
    bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                  "UpdateActivationEnvironment", GLib.Variant("(a{ss})", (told,)), None,
                  Gio.DBusCallFlags.NONE, 10000, None)


def end_prompt(flag):
    """Ends the prompt tty-prompt.sh runs (its pid in FLAG.pid) by hanging up on it, after
    which it ends with status 0: a terminal that serves many windows from one process closes a
    window when its program ends."""
    try:
        with open(flag + ".pid") as f:
            os.kill(int(f.read()), signal.SIGHUP)
    except (OSError, ValueError):
        pass
