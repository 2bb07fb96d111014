#include "ui/ViewSymbols.hpp"

#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QString>
#include <QSvgRenderer>
#include <QWidget>
#include <cmath>
#include <numbers>

namespace orvane::ui {
namespace {

// A rosette of 16 points, the seal behind the check mark.
QString sealOutline() {
    QString path;
    constexpr int corners = 32;
    for (int i = 0; i < corners; ++i) {
        const double angle = i * 2 * std::numbers::pi / corners;
        const double radius = i % 2 == 0 ? 10.8 : 9.2;
        path += QStringLiteral("%1%2 %3 ")
                    .arg(i == 0 ? "M" : "L")
                    .arg(12 + radius * std::cos(angle), 0, 'f', 2)
                    .arg(12 + radius * std::sin(angle), 0, 'f', 2);
    }
    return path + "Z";
}

// Each picture on a 24 x 24 grid; "C" stands for the colour.
QString svgBody(ViewSymbol symbol) {
    switch (symbol) {
    case ViewSymbol::eye:
        return R"(<path d="M2 12C5 6.6 8.4 4.6 12 4.6S19 6.6 22 12C19 17.4 15.6 19.4 12 19.4S5 17.4 2 12Z"
                   fill="none" stroke="C" stroke-width="1.8" stroke-linejoin="round"/>
                  <circle cx="12" cy="12" r="3.7" fill="C"/>)";
    case ViewSymbol::camera:
        return R"(<rect x="2.4" y="7" width="19.2" height="13" rx="2.6" fill="none" stroke="C"
                   stroke-width="1.8"/>
                  <path d="M8 7L9.6 4.4H14.4L16 7" fill="none" stroke="C" stroke-width="1.8"
                   stroke-linejoin="round"/>
                  <circle cx="12" cy="13.5" r="3.8" fill="none" stroke="C" stroke-width="1.8"/>)";
    case ViewSymbol::accessibility:
        return R"(<circle cx="12" cy="12" r="10.2" fill="none" stroke="C" stroke-width="1.6"/>
                  <circle cx="12" cy="6.9" r="1.7" fill="C"/>
                  <path d="M6.6 9.6L12 10.6L17.4 9.6M12 10.6V14.2M12 14.2L9.6 18.6M12 14.2L14.4 18.6"
                   fill="none" stroke="C" stroke-width="1.8" stroke-linecap="round"
                   stroke-linejoin="round"/>)";
    case ViewSymbol::scope:
        return R"(<circle cx="12" cy="12" r="7.8" fill="none" stroke="C" stroke-width="1.8"/>
                  <path d="M12 1.6V7M12 17V22.4M1.6 12H7M17 12H22.4" stroke="C" stroke-width="1.8"
                   stroke-linecap="round"/>
                  <circle cx="12" cy="12" r="1.5" fill="C"/>)";
    case ViewSymbol::target:
        return R"(<circle cx="12" cy="12" r="9.4" fill="none" stroke="C" stroke-width="1.9"/>
                  <circle cx="12" cy="12" r="5.4" fill="none" stroke="C" stroke-width="1.9"/>
                  <circle cx="12" cy="12" r="1.9" fill="C"/>)";
    case ViewSymbol::checkmarkCircle:
        return R"(<circle cx="12" cy="12" r="10.6" fill="C"/>
                  <path d="M7 12.4L10.4 15.8L17 8.8" fill="none" stroke="white" stroke-width="2.3"
                   stroke-linecap="round" stroke-linejoin="round"/>)";
    case ViewSymbol::checkmarkSeal:
        return "<path d=\"" + sealOutline() +
               R"(" fill="C" stroke="C" stroke-width="1.2" stroke-linejoin="round"/>
                  <path d="M7.4 12.3L10.6 15.4L16.6 9" fill="none" stroke="white"
                   stroke-width="2.2" stroke-linecap="round" stroke-linejoin="round"/>)";
    case ViewSymbol::warningTriangle:
        return R"(<path d="M12 2.8L22.2 20.4H1.8Z" fill="C" stroke="C" stroke-width="1.6"
                   stroke-linejoin="round"/>
                  <path d="M12 8.8V14" stroke="white" stroke-width="2.2" stroke-linecap="round"/>
                  <circle cx="12" cy="17.1" r="1.3" fill="white"/>)";
    }
    return {};
}

} // namespace

QPixmap viewSymbol(ViewSymbol symbol, int size, const QColor& color, const QWidget* widget) {
    QString body = svgBody(symbol);
    body.replace(QStringLiteral("\"C\""), "\"" + color.name(QColor::HexRgb) + "\"");
    const QString svg =
        R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 24 24">)" + body + "</svg>";
    QSvgRenderer renderer(svg.toUtf8());
    const double ratio = widget != nullptr ? widget->devicePixelRatioF() : qApp->devicePixelRatio();
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, size, size));
    return pixmap;
}

namespace ViewColors {

QColor green() {
    return {0x1e, 0x9b, 0x45};
}

QColor orange() {
    return {0xe0, 0x7a, 0x00};
}

QColor red() {
    return {0xd0, 0x2b, 0x2b};
}

QColor secondary(const QWidget* widget) {
    const QPalette palette = widget != nullptr ? widget->palette() : QApplication::palette();
    // Halfway between the text and the window: readable, yet clearly of lesser weight.
    const QColor text = palette.color(QPalette::WindowText);
    const QColor window = palette.color(QPalette::Window);
    return QColor((text.red() * 3 + window.red() * 2) / 5,
                  (text.green() * 3 + window.green() * 2) / 5,
                  (text.blue() * 3 + window.blue() * 2) / 5);
}

} // namespace ViewColors

void giveRoom(QPushButton* button) {
    button->setMinimumSize(button->sizeHint() + QSize(16, 6));
}

QFont scaledFont(double factor, QFont::Weight weight) {
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * factor);
    } else {
        font.setPixelSize(static_cast<int>(std::lround(font.pixelSize() * factor)));
    }
    font.setWeight(weight);
    return font;
}

} // namespace orvane::ui
