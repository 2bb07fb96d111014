#pragma once

#include <QString>

class QWidget;

namespace orvane::ui {

// Puts `window` on screen as one of our own titled windows: fixed `width` × `height`, centred
// on the visible area of the monitor holding the active window (else the primary one), in
// front and with the keyboard.
void presentWindow(QWidget& window, const QString& title, int width, int height);

// Brings an existing window of ours back to the front with the keyboard.
void bringToFront(QWidget& window);

} // namespace orvane::ui
