#!/usr/bin/python3
# One PyQt6 program with two top-level windows, each with a text editor: TITLE-left with its
# top-left corner at root (LEFT_X, Y) and TITLE-right at (RIGHT_X, Y). Both belong to one
# process, so only the exact window tells them apart. With `main`, each editor is the central
# widget of a main window, as in most Qt programs, which AT-SPI shows as a window of its own.
#   qt-two-windows.py TITLE LEFT_X RIGHT_X Y [main]
import sys

from PyQt6.QtWidgets import QApplication, QMainWindow, QPlainTextEdit


def main():
    if len(sys.argv) not in (5, 6) or sys.argv[5:] not in ([], ["main"]):
        print("usage: qt-two-windows.py TITLE LEFT_X RIGHT_X Y [main]", file=sys.stderr)
        return 2
    title = sys.argv[1]
    left_x, right_x, y = (int(value) for value in sys.argv[2:5])
    application = QApplication(sys.argv[:1])
    windows = []
    for suffix, x in (("left", left_x), ("right", right_x)):
        window = QPlainTextEdit()
        if sys.argv[5:] == ["main"]:
            window, editor = QMainWindow(), window
            window.setCentralWidget(editor)
        window.setWindowTitle(title + "-" + suffix)
        window.resize(600, 400)
        window.move(x, y)
        window.show()
        windows.append(window)
    return application.exec()


if __name__ == "__main__":
    sys.exit(main())
