#!/usr/bin/python3
# A window filled by one menu button whose menu is a popover, as in GNOME programs' header bars:
# GTK 3 or GTK 4, as the first argument says ("3" or "4"). A click opens it, Escape closes it.
import sys

import gi

version = sys.argv[1] if len(sys.argv) > 1 else "3"
gi.require_version("Gtk", version + ".0")
from gi.repository import Gio, GLib, Gtk  # noqa: E402

menu = Gio.Menu()
menu.append("New Window", "win.new")
menu.append("Preferences", "win.preferences")
menu.append("About", "win.about")

button = Gtk.MenuButton(label="Menu")
button.set_menu_model(menu)
window = Gtk.Window(title="orvane-popover-gtk" + version)
window.set_default_size(400, 300)

if version == "3":
    button.set_use_popover(True)
    window.add(button)
    window.connect("destroy", Gtk.main_quit)
    window.show_all()
    Gtk.main()
else:
    window.set_child(button)
    loop = GLib.MainLoop()
    window.connect("close-request", lambda *_: loop.quit())
    window.present()
    loop.run()
