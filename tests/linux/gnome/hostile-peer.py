#!/usr/bin/python3
# The GNOME Shell bridge as installed (serving the build's orvane alone) on a headless shell
# (scripts/gnome-desktop.sh with the bridge and the test shell), with orvane running and moving
# focus between two GTK text windows, attacked by a program that is not orvane (this script):
# - every method of the interface (read from its XML, so new ones are covered) and every
#   property write is refused, called directly, addressed to the shell's other names (the
#   object lives on the shell's connection) and through xdg-dbus-proxy as Flatpak filters a
#   sandbox's bus (--talk=org.gnome.Mutter.IdleMonitor);
# - PostKey while focus moves types nothing into either window;
# - a passive listener (a match rule, not a monitor) hears none of the bridge's signals;
# - a program that takes the bridge's name while the extension is off is not believed:
#   orvane says so, and sends it nothing; with the extension back, focus moves again.
#   hostile-peer.py ORVANE HEAD_TURN_CLIP_TOOL CALIBRATE_TOOL BRIDGE_XML
import os
import subprocess
import sys
import time

from shell_bus import BRIDGE, CLIENTS, TEST_SHELL, Gio, GLib, bus, call, report, stop, wait_until

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from focus_checks import alternated, start_orvane  # noqa: E402

FIRST_ALTERNATION_SECONDS = 120
ATTACK_SECONDS = 12
MOVES_SECONDS = 90
STOP_SECONDS = 15
KEY_X = 0x78
IDLE_MONITOR = "org.gnome.Mutter.IdleMonitor"
EXTENSIONS = ("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell.Extensions")
DBUS = ("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus")
# What the calls carry where a zero would prove little.
ARGUMENTS = {
    "PostKey": (KEY_X, True),
    "GrabAccelerator": ("<Super>x",),
    "SetOverviewActive": (True,),
    "WatchInput": (50,),
    "ShowDot": (500, 500, 40),
    "SetIndicator": (b"<svg/>", "sign in again", [("a", "Sign in again", True, -1)]),
}

failures = []


def zero(signature):
    """A value of the D-Bus type, as plain as it gets."""
    kind = signature[0]
    if kind == "b":
        return False
    if kind in "ynqiuxtdh":
        return 0
    if kind in "sg":
        return ""
    if kind == "o":
        return "/"
    if kind == "v":
        return GLib.Variant("b", False)
    if signature.startswith("a{"):
        return {}
    if kind == "a":
        return []
    fields, inner = [], signature[1:-1]
    while inner:
        one = first_type(inner)
        fields.append(zero(one))
        inner = inner[len(one):]
    return tuple(fields)


def first_type(signature):
    """The first complete type of a signature."""
    depth, i = 0, 0
    while True:
        c = signature[i]
        if c in "({":
            depth += 1
        elif c in ")}":
            depth -= 1
        i += 1
        if c != "a" and depth == 0:
            return signature[:i]


def interface_info(xml_path):
    with open(xml_path) as f:
        return Gio.DBusNodeInfo.new_for_xml(f.read()).lookup_interface(BRIDGE[2])


def remote_error(error):
    return Gio.DBusError.get_remote_error(error) or error.message


def attempts(info):
    """(what, method of Properties or the interface, signature, arguments) for every method and
    every property write and read of the interface."""
    for method in info.methods:
        signature = "(" + "".join(arg.signature for arg in method.in_args) + ")"
        arguments = ARGUMENTS.get(method.name, zero(signature) if signature != "()" else ())
        yield method.name, BRIDGE[2], method.name, signature, arguments
    for prop in info.properties:
        yield (f"{prop.name} written", "org.freedesktop.DBus.Properties", "Set", "(ssv)",
               (BRIDGE[2], prop.name, GLib.Variant(prop.signature, zero(prop.signature))))
    # The state the bridge once offered as properties is no property of anyone's now.
    for name in ("OverviewActive", "FocusWindow", "ShellModal", "Version"):
        yield (f"{name} written", "org.freedesktop.DBus.Properties", "Set", "(ssv)",
               (BRIDGE[2], name, GLib.Variant("b", True)))
        yield f"{name} read", "org.freedesktop.DBus.Properties", "Get", "(ss)", (BRIDGE[2], name)
    # GDBus answers this itself, for every object: with nothing, as the bridge has no property.
    yield "all read", "org.freedesktop.DBus.Properties", "GetAll", "(s)", (BRIDGE[2],)


def harmless(what, answer):
    """Whether an answer to a program that is not orvane gives it nothing."""
    return what == "all read" and answer.unpack() == ({},)


def attack(connection, destination, info, route, access_denied_only=True):
    """Every attempt at `destination` over `connection`; each must fail, and with AccessDenied
    when `access_denied_only`."""
    answered = []
    for what, interface, member, signature, arguments in attempts(info):
        try:
            answer = connection.call_sync(destination, BRIDGE[1], interface, member,
                                          GLib.Variant(signature, arguments) if signature != "()"
                                          else None, None, Gio.DBusCallFlags.NONE, 5000, None)
            if not harmless(what, answer):
                answered.append(f"{what}: {answer.unpack()}")
        except GLib.Error as error:
            name = remote_error(error)
            # Properties.* of an interface without properties: GDBus's own refusal.
            expected = ("org.freedesktop.DBus.Error.AccessDenied",
                        "org.freedesktop.DBus.Error.InvalidArgs") \
                if interface.endswith("Properties") else ("org.freedesktop.DBus.Error.AccessDenied",)
            if access_denied_only and name not in expected:
                failures.append(f"{route}: {what} refused with {name}, not AccessDenied")
    if answered:
        failures.append(f"{route}: answered a program that is not orvane: {answered}")
    else:
        print(f"GNOME: {route}: every method and property write was refused")


def bus_proxy():
    """xdg-dbus-proxy as Flatpak runs it for a sandbox that may talk to the idle monitor, and a
    connection through it."""
    path = os.path.join(os.environ["XDG_RUNTIME_DIR"], "hostile-proxy")
    process = subprocess.Popen(["xdg-dbus-proxy", os.environ["DBUS_SESSION_BUS_ADDRESS"], path,
                                "--filter", f"--talk={IDLE_MONITOR}"])
    if not wait_until(lambda: os.path.exists(path), 10):
        sys.exit("FAIL: xdg-dbus-proxy made no socket")
    connection = Gio.DBusConnection.new_for_address_sync(
        f"unix:path={path}", Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
        Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
    return process, connection


def owner(name):
    try:
        return call(DBUS, "GetNameOwner", "(s)", (name,), "(s)")[0]
    except GLib.Error:
        return ""


def new_connection():
    return Gio.DBusConnection.new_for_address_sync(
        os.environ["DBUS_SESSION_BUS_ADDRESS"], Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
        Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)


class Listener:
    """A passive listener on its own connection: a match rule for whatever the bridge's object
    sends, as any program may add, eavesdropping not asked for."""

    def __init__(self):
        self.heard = []
        self.connection = new_connection()
        self._id = self.connection.signal_subscribe(
            None, None, None, BRIDGE[1], None, Gio.DBusSignalFlags.NONE,
            lambda _c, sender, _p, interface, name, _a: self.heard.append((sender, name)))


class Squatter:
    """Takes the bridge's name and offers its interface, answering as a bridge would and
    writing down every call."""

    def __init__(self, info):
        self.calls = []
        self.connection = new_connection()
        self._info = info
        self._object = self.connection.register_object(BRIDGE[1], info, self._on_call)
        reply = self.connection.call_sync(DBUS[0], DBUS[1], DBUS[2], "RequestName",
                                          GLib.Variant("(su)", (BRIDGE[0], 4)),
                                          GLib.VariantType("(u)"), Gio.DBusCallFlags.NONE, 5000,
                                          None).unpack()[0]
        if reply != 1:
            sys.exit(f"FAIL: the squatter could not take {BRIDGE[0]} ({reply})")

    def _on_call(self, _connection, sender, _path, _interface, method, _params, invocation):
        self.calls.append((sender, method))
        replies = {
            "GetVersion": GLib.Variant("(u)", (2,)),
            "GetState": GLib.Variant("(a{sv})", ({"FocusWindow": GLib.Variant("t", 1)},)),
            "GetWindows": GLib.Variant("(a(tusss(iiii)(iiii)ibb))", ([],)),
            "GetMonitors": GLib.Variant("(a(iiiissb))", ([],)),
            "PostKey": GLib.Variant("(b)", (True,)),
        }
        invocation.return_value(replies.get(method))

    def close(self):
        self.connection.unregister_object(self._object)
        self.connection.close_sync(None)


def focus_changes():
    return call(TEST_SHELL, "FocusChanges", reply="(a(tt))")[0]


def focused_since(mark):
    windows = []
    for _, window in focus_changes()[mark:]:
        if not windows or windows[-1] != window:
            windows.append(window)
    return windows


def frame(title):
    return call(TEST_SHELL, "WindowFrame", "(s)", (title,), "((iiii))")[0]


def place(title, x, y):
    if not wait_until(lambda: frame(title)[2] > 0, 20):
        sys.exit(f"FAIL: the window {title} did not appear")
    window = call(TEST_SHELL, "WindowId", "(s)", (title,), "(t)")[0]
    moved = [0.0]

    # Moved again until it stays: a window may place itself once it is shown.
    def placed():
        if tuple(frame(title)[:2]) == (x, y):
            return True
        if time.monotonic() - moved[0] >= 0.5:
            call(TEST_SHELL, "MoveWindow", "(tii)", (window, x, y))
            moved[0] = time.monotonic()
        return False

    if not wait_until(placed, 10):
        sys.exit(f"FAIL: the window {title} could not be moved to {x},{y}")
    return window


def main():
    orvane, make_clip, calibrate, xml_path = sys.argv[1:5]
    info = interface_info(xml_path)
    home = os.environ["HOME"]
    clip = os.path.join(home, "head-turn.avi")
    subprocess.run([make_clip, clip, "60", "15"], check=True)
    subprocess.run([calibrate], check=True)
    texts = {side: os.path.join(home, f"{side}.txt") for side in ("left", "right")}
    clients = [subprocess.Popen(["/usr/bin/python3", os.path.join(CLIENTS, "gtk-text-window.py"),
                                 f"hostile-{side}", texts[side]], env=dict(os.environ,
                                                                           GDK_BACKEND="wayland"))
               for side in ("left", "right")]
    left = place("hostile-left", 200, 200)
    right = place("hostile-right", 2300, 200)

    listener = Listener()
    mark = len(focus_changes())
    process, log_text = start_orvane(orvane, home, clip)
    if not (wait_until(lambda: alternated(focused_since(mark), {left}, {right})
                       or process.poll() is not None, FIRST_ALTERNATION_SECONDS) and
            alternated(focused_since(mark), {left}, {right})):
        failures.append(f"focus did not go left, right, left, right: {focused_since(mark)}")

    # --- Refused, by every route --------------------------------------------------------------
    # The pointer moves: the bridge samples it for orvane, and the listener must not hear it.
    for x in (300, 400, 500):
        call(TEST_SHELL, "PointerMoveTo", "(ii)", (x, 900))
        wait_until(lambda: False, 0.2)
    shell_unique = owner("org.gnome.Shell")
    attack(bus, BRIDGE[0], info, "directly")
    attack(bus, "org.gnome.Shell", info, "addressed to org.gnome.Shell")
    attack(bus, shell_unique, info, f"addressed to the shell's unique name {shell_unique}")
    proxy, sandboxed = bus_proxy()
    # The proxy's own refusal (the name is not in its filter), whichever error it gives.
    attack(sandboxed, BRIDGE[0], info, "through xdg-dbus-proxy", access_denied_only=False)
    if owner(IDLE_MONITOR) == shell_unique:
        attack(sandboxed, IDLE_MONITOR, info, f"through xdg-dbus-proxy to {IDLE_MONITOR}")
    else:
        failures.append(f"{IDLE_MONITOR} is not the shell's ({owner(IDLE_MONITOR)!r}): the "
                        "sandbox's route to the shell's connection was not tried")

    # --- Keys posted while orvane moves focus reach neither window ----------------------------
    # Until orvane has moved focus to both windows (bounded), for some seconds at least.
    mark = len(focus_changes())
    started = time.monotonic()
    posted = 0
    while time.monotonic() < started + ATTACK_SECONDS or (
            not {left, right} <= set(focused_since(mark)) and
            time.monotonic() < started + MOVES_SECONDS):
        for connection, destination in ((bus, BRIDGE[0]), (sandboxed, IDLE_MONITOR)):
            for pressed in (True, False):
                try:
                    connection.call_sync(destination, BRIDGE[1], BRIDGE[2], "PostKey",
                                         GLib.Variant("(ub)", (KEY_X, pressed)), None,
                                         Gio.DBusCallFlags.NONE, 5000, None)
                    posted += 1
                except GLib.Error:
                    pass
        wait_until(lambda: False, 0.1)
    moved = focused_since(mark)
    typed = {side: open(path).read() for side, path in texts.items()}
    if posted or any(typed.values()):
        failures.append(f"keys of a program that is not orvane were posted ({posted}) or "
                        f"typed: {typed}")
    elif not ({left, right} <= set(moved)):
        failures.append(f"focus did not move between both windows while keys were tried: {moved}")
    else:
        print(f"GNOME: while orvane moved focus {len(moved)} times, PostKey typed nothing")
    proxy.terminate()
    proxy.wait()

    heard = [h for h in listener.heard if h[1] != "NameOwnerChanged"]
    if heard:
        failures.append(f"a passive listener heard the bridge: {heard[:10]}")
    else:
        print("GNOME: a passive listener heard none of the bridge's signals")

    # --- A squatter on the bridge's name is not believed --------------------------------------
    uuid = next(os.path.basename(d.rstrip("/"))
                for d in os.environ["ORVANE_GNOME_EXTENSIONS"].split(":")
                if os.path.basename(d.rstrip("/")).startswith("bridge"))
    logged = len(log_text())
    call(EXTENSIONS, "DisableExtension", "(s)", (uuid,), "(b)")
    if not wait_until(lambda: owner(BRIDGE[0]) == "", 10):
        sys.exit("FAIL: the bridge stayed on the bus")
    squatter = Squatter(info)
    if wait_until(lambda: "not believed" in log_text()[logged:], 10):
        print("GNOME: orvane did not believe a squatter on the bridge's name")
    else:
        failures.append("orvane did not say it does not believe the squatter")
    diagnosis = subprocess.run([orvane, "--diagnose"], capture_output=True, text=True,
                               timeout=60).stdout
    if "Another program" not in diagnosis:
        failures.append(f"--diagnose did not name the squatter: {diagnosis}")
    wait_until(lambda: False, 3)
    if squatter.calls:
        failures.append(f"orvane (or its diagnosis) called the squatter: {squatter.calls[:10]}")
    else:
        print("GNOME: the squatter was sent nothing")
    squatter.close()
    call(EXTENSIONS, "EnableExtension", "(s)", (uuid,), "(b)")
    mark = len(focus_changes())
    if wait_until(lambda: {left, right} <= set(focused_since(mark)), MOVES_SECONDS):
        print("GNOME: with the extension back, focus moved to both windows again")
    else:
        failures.append(f"focus did not move again with the bridge back: {focused_since(mark)}")

    stop(process, STOP_SECONDS, failures)
    for client in clients:
        client.terminate()
        client.wait()
    return report(log_text(), failures)


if __name__ == "__main__":
    sys.exit(main())
