#include "ui/x11/X11WindowControl.hpp"

#include <QGuiApplication>

// After Qt: Xlib's macros (None, KeyPress, Expose…) clash with Qt's names.
#include "backends/linux/x11/X11Connection.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <string>

namespace orvane::ui::x11 {
namespace {

constexpr long allDesktops = 0xFFFFFFFF;
constexpr long sourcePager = 2;

void sendToRoot(linuxbackend::X11Connection& connection, Window window, Atom type, long a, long b,
                long c) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    event.xclient.data.l[0] = a;
    event.xclient.data.l[1] = b;
    event.xclient.data.l[2] = c;
    XSendEvent(connection.display(), connection.root(), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

} // namespace

std::shared_ptr<linuxbackend::X11Connection> openConnection() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        return nullptr;
    }
    return linuxbackend::X11Connection::open(nullptr, nullptr);
}

std::optional<QRect> rootGeometry(linuxbackend::X11Connection& connection, unsigned long window) {
    if (!connection.isAlive()) {
        return std::nullopt;
    }
    linuxbackend::X11Connection::ErrorTrap trap(connection);
    const auto attributes = connection.attributes(window);
    if (!attributes || attributes->map_state != IsViewable) {
        return std::nullopt;
    }
    int x = 0, y = 0;
    Window child = None;
    if (!XTranslateCoordinates(connection.display(), window, connection.root(), 0, 0, &x, &y,
                               &child) ||
        trap.sync() != 0) {
        return std::nullopt;
    }
    return QRect(x, y, attributes->width, attributes->height);
}

void putOnAllDesktops(linuxbackend::X11Connection& connection, unsigned long window) {
    if (!connection.isAlive()) {
        return;
    }
    linuxbackend::X11Connection::ErrorTrap trap(connection);
    const Atom desktop = connection.atom("_NET_WM_DESKTOP");
    const long value = allDesktops;
    XChangeProperty(connection.display(), window, desktop, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&value), 1);
    sendToRoot(connection, window, desktop, allDesktops, sourcePager, 0);
    trap.sync();
}

void requestActivation(linuxbackend::X11Connection& connection, unsigned long window) {
    if (!connection.isAlive()) {
        return;
    }
    const Time now = connection.serverTime();
    linuxbackend::X11Connection::ErrorTrap trap(connection);
    sendToRoot(connection, window, connection.atom("_NET_ACTIVE_WINDOW"), sourcePager,
               static_cast<long>(now), 0);
    trap.sync();
}

bool isCompositing(linuxbackend::X11Connection& connection) {
    if (!connection.isAlive()) {
        return false;
    }
    const int screen = DefaultScreen(connection.display());
    const std::string name = "_NET_WM_CM_S" + std::to_string(screen);
    return XGetSelectionOwner(connection.display(), connection.atom(name.c_str())) != None;
}

} // namespace orvane::ui::x11
