#!/usr/bin/python3
# A GTK 3 window with a text view, titled TITLE, asking to be placed with its top-left corner at
# root (X, Y): a real GTK program for the shell tests. With --two, one program with two such
# windows: TITLE-left at (LEFT_X, Y) and TITLE-right at (RIGHT_X, Y).
#   gtk-window-at.py TITLE X Y [WIDTH HEIGHT]
#   gtk-window-at.py --two TITLE LEFT_X RIGHT_X Y
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import Gtk  # noqa: E402


def show(title, x, y, width, height):
    window = Gtk.Window(title=title)
    window.set_default_size(width, height)
    window.move(x, y)
    scrolled = Gtk.ScrolledWindow()
    scrolled.add(Gtk.TextView())
    window.add(scrolled)
    window.connect("destroy", Gtk.main_quit)
    window.show_all()


def main():
    if len(sys.argv) == 6 and sys.argv[1] == "--two":
        title = sys.argv[2]
        left_x, right_x, y = (int(value) for value in sys.argv[3:6])
        show(title + "-left", left_x, y, 600, 400)
        show(title + "-right", right_x, y, 600, 400)
    elif len(sys.argv) in (4, 6):
        title, x, y = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
        width, height = (int(sys.argv[4]), int(sys.argv[5])) if len(sys.argv) == 6 else (600, 400)
        show(title, x, y, width, height)
    else:
        print("usage: gtk-window-at.py TITLE X Y [WIDTH HEIGHT]\n"
              "       gtk-window-at.py --two TITLE LEFT_X RIGHT_X Y", file=sys.stderr)
        return 2
    Gtk.main()
    return 0


if __name__ == "__main__":
    sys.exit(main())
