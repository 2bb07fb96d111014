#include "ui/WindowPresenter.hpp"

#include "orvane/platform/Platform.hpp"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace orvane::ui {

namespace {

// The monitor of the active window, as Qt knows it.
QScreen* activeScreen() {
    auto* primary = QGuiApplication::primaryScreen();
    if (!hasPlatform() || !platform().displays || primary == nullptr) {
        return primary;
    }
    const auto main = platform().displays->mainDisplay();
    if (!main) {
        return primary;
    }
    // The global top-left space starts at the primary monitor; Qt's at the root window.
    const auto& frame = main->frame;
    const QPoint centre =
        primary->geometry().topLeft() + QPoint(static_cast<int>(frame.x + frame.width / 2),
                                               static_cast<int>(frame.y + frame.height / 2));
    auto* screen = QGuiApplication::screenAt(centre);
    return screen != nullptr ? screen : primary;
}

} // namespace

void presentWindow(QWidget& window, const QString& title, int width, int height) {
    window.setWindowTitle(title);
    window.setFixedSize(width, height);
    if (auto* screen = activeScreen()) {
        const QRect area = screen->availableGeometry();
        window.move(area.center().x() - width / 2, area.center().y() - height / 2);
    }
    bringToFront(window);
}

void bringToFront(QWidget& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

} // namespace orvane::ui
