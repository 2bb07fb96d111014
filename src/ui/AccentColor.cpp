#include "ui/AccentColor.hpp"

#include <QGuiApplication>
#include <QPalette>

namespace orvane::ui {

QColor accentColor() {
    const QColor highlight =
        QGuiApplication::palette().color(QPalette::Active, QPalette::Highlight);
    if (highlight.hslSaturation() >= 60 && highlight.lightness() >= 70) {
        return highlight;
    }
    return QColor(0x2f, 0x86, 0xe0);
}

} // namespace orvane::ui
