#include "ui/ScreenSpace.hpp"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace orvane::ui {
namespace {

QScreen* screenAtRoot(QPoint root) {
    const auto screens = QGuiApplication::screens();
    for (auto* screen : screens) {
        if (rootGeometry(*screen).contains(root)) {
            return screen;
        }
    }
    return nullptr;
}

} // namespace

QPoint primaryRootOrigin() {
    const auto* primary = QGuiApplication::primaryScreen();
    return primary != nullptr ? primary->geometry().topLeft() : QPoint();
}

QPoint rootPointFromGlobal(plinth::Point global) {
    return primaryRootOrigin() +
           QPoint(static_cast<int>(std::lround(global.x)), static_cast<int>(std::lround(global.y)));
}

QRect rootRectFromGlobal(const plinth::Rect& global) {
    return {rootPointFromGlobal({global.x, global.y}),
            QSize(static_cast<int>(std::lround(global.width)),
                  static_cast<int>(std::lround(global.height)))};
}

QRect rootGeometry(const QScreen& screen) {
    const QRect logical = screen.geometry();
    const double scale = screen.devicePixelRatio();
    return {logical.topLeft(), QSize(static_cast<int>(std::lround(logical.width() * scale)),
                                     static_cast<int>(std::lround(logical.height() * scale)))};
}

QScreen* screenForRootRect(const QRect& root) {
    const auto screens = QGuiApplication::screens();
    for (auto* screen : screens) {
        if (rootGeometry(*screen) == root) {
            return screen;
        }
    }
    if (auto* screen = screenAtRoot(root.center())) {
        return screen;
    }
    return QGuiApplication::primaryScreen();
}

QPoint logicalFromRoot(QPoint root) {
    const auto* screen = screenAtRoot(root);
    if (screen == nullptr || screen->devicePixelRatio() == 1.0) {
        return root;
    }
    const QPoint origin = screen->geometry().topLeft();
    const QPointF offset = QPointF(root - origin) / screen->devicePixelRatio();
    return origin + offset.toPoint();
}

QRect logicalFromRoot(const QRect& root) {
    const auto* screen = screenAtRoot(root.center());
    if (screen == nullptr || screen->devicePixelRatio() == 1.0) {
        return root;
    }
    const double scale = screen->devicePixelRatio();
    return {logicalFromRoot(root.topLeft()),
            QSize(static_cast<int>(std::lround(root.width() / scale)),
                  static_cast<int>(std::lround(root.height() / scale)))};
}

} // namespace orvane::ui
