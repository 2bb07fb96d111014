#!/usr/bin/python3
# A Qt window with a menu bar (its File menu drops down) and a context menu on the area under
# it, both real QMenus.
import sys

from PyQt6.QtCore import Qt
from PyQt6.QtWidgets import QApplication, QLabel, QMainWindow, QMenu

app = QApplication(sys.argv)
window = QMainWindow()
window.setWindowTitle("orvane-qt-menus")
file_menu = window.menuBar().addMenu("&File")
file_menu.addAction("Open")
file_menu.addAction("Quit")

area = QLabel("Right-click for a menu")
area.setAlignment(Qt.AlignmentFlag.AlignCenter)
area.setContextMenuPolicy(Qt.ContextMenuPolicy.CustomContextMenu)
context = QMenu(area)
context.addAction("Copy")
context.addAction("Paste")
area.customContextMenuRequested.connect(lambda at: context.exec(area.mapToGlobal(at)))

window.setCentralWidget(area)
window.resize(500, 400)
window.show()
sys.exit(app.exec())
