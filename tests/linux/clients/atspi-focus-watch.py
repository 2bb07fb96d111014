#!/usr/bin/python3
# Prints a line for each accessible that gains keyboard focus, as the accessibility bus reports
# it: "ROLE X Y WIDTH HEIGHT" in screen coordinates. With ROLE given, only accessibles of that
# role name (as AT-SPI names it, e.g. "terminal"). A shell test reads it to follow focus
# inside a window, where the window manager sees no change.
#   atspi-focus-watch.py [ROLE]
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

wanted = sys.argv[1] if len(sys.argv) > 1 else None


def on_focus(event):
    if event.detail1 != 1:
        return
    try:
        role = event.source.get_role_name()
        if wanted is not None and role != wanted:
            return
        extents = event.source.get_extents(Atspi.CoordType.SCREEN)
    except gi.repository.GLib.Error:
        return  # gone before it could be asked
    print(role.replace(" ", "-"), extents.x, extents.y, extents.width, extents.height, flush=True)


listener = Atspi.EventListener.new(on_focus)
listener.register("object:state-changed:focused")
print("watching", flush=True)
Atspi.event_main()
