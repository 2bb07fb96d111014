#!/usr/bin/python3
# A GTK 3 window with a plain entry above a password entry (text hidden), for the secure-input
# tests. Usage: gtk3-password-form.py TITLE password|plain (the entry that has focus first).
# Tab moves focus between the two; F2 shows or hides the password (as an eye button would).
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, Gtk  # noqa: E402

title, first = sys.argv[1], sys.argv[2]
window = Gtk.Window(title=title)
window.set_default_size(360, 120)
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6)
plain = Gtk.Entry()
password = Gtk.Entry()
password.set_visibility(False)
box.pack_start(plain, False, False, 0)
box.pack_start(password, False, False, 0)
window.add(box)
window.connect("destroy", Gtk.main_quit)


def on_key(_widget, event):
    if event.keyval == Gdk.KEY_F2:
        password.set_visibility(not password.get_visibility())
        return True
    return False


window.connect("key-press-event", on_key)
window.show_all()
(password if first == "password" else plain).grab_focus()
Gtk.main()
