#pragma once

#include "plinth/Geometry.hpp"

#include <QPoint>
#include <QRect>

class QScreen;

namespace orvane::ui {

// The platform's displays, windows and gaze points are in root-window pixels; our global
// top-left space starts at the primary monitor's top-left corner instead. Qt places windows
// in its own device-independent pixels: each screen keeps its root origin, but its extent is
// divided by the screen's scale factor.
QPoint primaryRootOrigin();
QPoint rootPointFromGlobal(plinth::Point global);
QRect rootRectFromGlobal(const plinth::Rect& global);

// The screen's rectangle in root pixels.
QRect rootGeometry(const QScreen& screen);

// The screen Qt has for exactly this root rectangle, else the one holding its centre, else the
// primary one; null without screens.
QScreen* screenForRootRect(const QRect& root);

// Where Qt puts what lies at these root pixels.
QPoint logicalFromRoot(QPoint root);
QRect logicalFromRoot(const QRect& root);

} // namespace orvane::ui
