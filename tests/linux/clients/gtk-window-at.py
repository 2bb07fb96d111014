#!/usr/bin/python3
# A GTK 3 window with a text view, titled TITLE, asking to be placed with its top-left corner at
# root (X, Y): a real GTK program for the shell tests.
#   gtk-window-at.py TITLE X Y [WIDTH HEIGHT]
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import Gtk  # noqa: E402


def main():
    if len(sys.argv) not in (4, 6):
        print("usage: gtk-window-at.py TITLE X Y [WIDTH HEIGHT]", file=sys.stderr)
        return 2
    title, x, y = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    width, height = (int(sys.argv[4]), int(sys.argv[5])) if len(sys.argv) == 6 else (600, 400)
    window = Gtk.Window(title=title)
    window.set_default_size(width, height)
    window.move(x, y)
    scrolled = Gtk.ScrolledWindow()
    scrolled.add(Gtk.TextView())
    window.add(scrolled)
    window.connect("destroy", Gtk.main_quit)
    window.show_all()
    Gtk.main()
    return 0


if __name__ == "__main__":
    sys.exit(main())
