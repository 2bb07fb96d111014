#!/usr/bin/python3
# A GTK 3 window titled TITLE with a focused text view whose text is written to OUT on every
# change: whether anything typed into it, by anyone, reached it.
#   gtk-text-window.py TITLE OUT
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import Gtk  # noqa: E402


def main():
    if len(sys.argv) != 3:
        print("usage: gtk-text-window.py TITLE OUT", file=sys.stderr)
        return 2
    title, out = sys.argv[1:]
    open(out, "w").close()
    window = Gtk.Window(title=title)
    window.set_default_size(500, 300)
    view = Gtk.TextView()
    buffer = view.get_buffer()

    def changed(_buffer):
        with open(out, "w") as f:
            f.write(buffer.get_text(buffer.get_start_iter(), buffer.get_end_iter(), True))

    buffer.connect("changed", changed)
    window.add(view)
    window.connect("destroy", Gtk.main_quit)
    window.show_all()
    view.grab_focus()
    Gtk.main()
    return 0


if __name__ == "__main__":
    sys.exit(main())
