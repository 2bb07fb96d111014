#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>

class QPushButton;
class QWidget;

namespace orvane::ui {

// The small pictures of the set-up and settings windows, drawn by us so they look the same
// whatever icon theme the desktop has.
enum class ViewSymbol {
    eye,
    camera,
    accessibility,
    scope,
    target,
    checkmarkCircle, // filled
    checkmarkSeal,   // filled
    warningTriangle, // filled
};

// `symbol` as a square of `size` logical pixels in `color`, sharp on `widget`'s screen.
QPixmap viewSymbol(ViewSymbol symbol, int size, const QColor& color, const QWidget* widget);

// The colours the windows use beyond the palette's own.
namespace ViewColors {
QColor green();
QColor orange();
QColor red();
// Text of lesser weight (values, captions) in `widget`'s palette.
QColor secondary(const QWidget* widget);
} // namespace ViewColors

// A push button with room around its title, as the windows' own buttons have.
void giveRoom(QPushButton* button);

// `font` scaled from the application's base size, optionally with a weight.
QFont scaledFont(double factor, QFont::Weight weight = QFont::Normal);

} // namespace orvane::ui
