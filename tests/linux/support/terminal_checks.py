"""What the terminal password-prompt tests check on every desktop alike."""
from focus_checks import moves_during
from shell_bus import wait_until

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
