#!/usr/bin/python3
# One GTK 3 program with two top-level windows, each filled by a text view: TITLE-left with its
# top-left corner at root (LEFT_X, Y) and TITLE-right at (RIGHT_X, Y).
#   gtk-two-windows.py TITLE LEFT_X RIGHT_X Y
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import Gtk  # noqa: E402


def main():
    if len(sys.argv) != 5:
        print("usage: gtk-two-windows.py TITLE LEFT_X RIGHT_X Y", file=sys.stderr)
        return 2
    title = sys.argv[1]
    left_x, right_x, y = (int(value) for value in sys.argv[2:5])
    for suffix, x in (("left", left_x), ("right", right_x)):
        window = Gtk.Window(title=title + "-" + suffix)
        window.set_default_size(600, 400)
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
