#pragma once

#include <QColor>

namespace orvane::ui {

// The colour our controls are tinted with: the desktop theme's highlight, unless that is too
// grey or too dark to stand out on the black calibration screens, then a blue of our own.
QColor accentColor();

} // namespace orvane::ui
