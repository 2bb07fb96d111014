#!/usr/bin/python3
# A Qt 6 window with a plain line edit above a password line edit, for the secure-input tests.
# Usage: qt-password-form.py TITLE password|plain (the edit that has focus first). Tab moves
# focus between the two; F2 shows or hides the password (as an eye button would). It reaches
# AT-SPI when the accessibility bus is switched on before it starts.
import sys

from PyQt6.QtCore import Qt
from PyQt6.QtGui import QKeySequence, QShortcut
from PyQt6.QtWidgets import QApplication, QLineEdit, QVBoxLayout, QWidget

title, first = sys.argv[1], sys.argv[2]
app = QApplication(sys.argv[:1])
window = QWidget()
window.setWindowTitle(title)
window.resize(360, 120)
layout = QVBoxLayout(window)
plain = QLineEdit()
password = QLineEdit()
password.setEchoMode(QLineEdit.EchoMode.Password)
layout.addWidget(plain)
layout.addWidget(password)
shortcut = QShortcut(QKeySequence(Qt.Key.Key_F2), window)
shortcut.activated.connect(
    lambda: password.setEchoMode(
        QLineEdit.EchoMode.Normal
        if password.echoMode() == QLineEdit.EchoMode.Password
        else QLineEdit.EchoMode.Password
    )
)
window.show()
(password if first == "password" else plain).setFocus()
sys.exit(app.exec())
