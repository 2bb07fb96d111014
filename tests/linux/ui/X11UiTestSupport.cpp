#include "linux/ui/X11UiTestSupport.hpp"

#include "backends/linux/LinuxPlatform.hpp"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

// After Qt: Xlib's macros clash with Qt's names.
#include "backends/linux/x11/X11Connection.hpp"
#include "linux/x11/X11TestSupport.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/shape.h>

namespace orvane::ui::test {

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

InstalledLinuxPlatform::InstalledLinuxPlatform() {
    auto result = linuxbackend::makeLinuxPlatform();
    problem_ = result.desktopProblem;
    installation_ = std::make_unique<PlatformInstallation>(result.services);
}

InstalledLinuxPlatform::~InstalledLinuxPlatform() = default;

XProbe::XProbe() : connection_(linuxbackend::X11Connection::open(nullptr, nullptr)) {
    display_ = connection_ ? connection_->display() : nullptr;
}

XProbe::~XProbe() = default;

namespace {

// X errors are expected here (windows that are gone): they answer "nothing".
using QuietErrors = linuxbackend::X11Connection::ErrorTrap;

} // namespace

std::optional<QRect> XProbe::geometry(unsigned long window) {
    QuietErrors quiet(*connection_);
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display_, window, &attributes) ||
        attributes.map_state != IsViewable) {
        return std::nullopt;
    }
    int x = 0, y = 0;
    Window child = None;
    if (!XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y,
                               &child)) {
        return std::nullopt;
    }
    return QRect(x, y, attributes.width, attributes.height);
}

bool XProbe::exists(unsigned long window) {
    QuietErrors quiet(*connection_);
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display_, window, &attributes) != 0;
}

bool XProbe::isViewable(unsigned long window) {
    QuietErrors quiet(*connection_);
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display_, window, &attributes) &&
           attributes.map_state == IsViewable;
}

void XProbe::keepAbove(unsigned long window, bool above) {
    linuxbackend::test::keepAbove(display_, window, above);
}

unsigned long XProbe::topmostViewable() {
    QuietErrors quiet(*connection_);
    Window root = None, parent = None;
    Window* children = nullptr;
    unsigned int count = 0;
    unsigned long topmost = 0;
    if (XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count)) {
        for (unsigned int i = count; i > 0 && topmost == 0; --i) { // bottom to top
            if (isViewable(children[i - 1])) {
                topmost = children[i - 1];
            }
        }
        XFree(children);
    }
    return topmost;
}

bool XProbe::isOverrideRedirect(unsigned long window) {
    QuietErrors quiet(*connection_);
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display_, window, &attributes) && attributes.override_redirect;
}

std::optional<unsigned long> XProbe::cardinal(unsigned long window, const char* property) {
    QuietErrors quiet(*connection_);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::optional<unsigned long> value;
    if (XGetWindowProperty(display_, window, XInternAtom(display_, property, False), 0, 1, False,
                           AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
        data && format == 32 && count == 1) {
        // Xlib hands 32-bit items over as longs, sign-extended.
        value = reinterpret_cast<unsigned long*>(data)[0] & 0xFFFFFFFFul;
    }
    if (data) {
        XFree(data);
    }
    return value;
}

bool XProbe::inputShapeIsEmpty(unsigned long window) {
    QuietErrors quiet(*connection_);
    int count = -1, ordering = 0;
    XRectangle* rectangles = XShapeGetRectangles(display_, window, ShapeInput, &count, &ordering);
    if (rectangles) {
        XFree(rectangles);
    }
    return count == 0;
}

bool XProbe::isCompositing() {
    const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display_));
    return XGetSelectionOwner(display_, XInternAtom(display_, name.c_str(), False)) != None;
}

QImage XProbe::grab(const QRect& root) {
    QImage image(root.size(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QuietErrors quiet(*connection_);
    XImage* shot = XGetImage(display_, DefaultRootWindow(display_), root.x(), root.y(),
                             static_cast<unsigned>(root.width()),
                             static_cast<unsigned>(root.height()), AllPlanes, ZPixmap);
    if (!shot) {
        return image;
    }
    for (int y = 0; y < root.height(); ++y) {
        for (int x = 0; x < root.width(); ++x) {
            const unsigned long pixel = XGetPixel(shot, x, y);
            image.setPixel(x, y,
                           qRgb(static_cast<int>((pixel >> 16) & 0xff),
                                static_cast<int>((pixel >> 8) & 0xff),
                                static_cast<int>(pixel & 0xff)));
        }
    }
    XDestroyImage(shot);
    return image;
}

unsigned long XProbe::activeWindow() {
    return cardinal(DefaultRootWindow(display_), "_NET_ACTIVE_WINDOW").value_or(0);
}

void XProbe::move(unsigned long window, QPoint root) {
    QuietErrors quiet(*connection_);
    XMoveWindow(display_, window, root.x(), root.y());
    XFlush(display_);
}

void XProbe::activate(unsigned long window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display_, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;
    event.xclient.data.l[1] = static_cast<long>(connection_->serverTime());
    XSendEvent(display_, DefaultRootWindow(display_), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display_);
}

void XProbe::focus(unsigned long window) {
    QuietErrors quiet(*connection_);
    XSetInputFocus(display_, window, RevertToPointerRoot, CurrentTime);
    XFlush(display_);
}

unsigned long XProbe::clientWindowOf(pid_t pid) {
    QuietErrors quiet(*connection_);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    unsigned long found = 0;
    if (XGetWindowProperty(display_, DefaultRootWindow(display_),
                           XInternAtom(display_, "_NET_CLIENT_LIST", False), 0, 1024, False,
                           XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
        data && format == 32) {
        const auto* windows = reinterpret_cast<unsigned long*>(data);
        for (unsigned long i = 0; i < count && !found; ++i) {
            if (cardinal(windows[i], "_NET_WM_PID") == static_cast<unsigned long>(pid)) {
                found = windows[i];
            }
        }
    }
    if (data) {
        XFree(data);
    }
    return found;
}

unsigned long XProbe::showPopUpMenu(const QRect& root) {
    const unsigned long menu =
        linuxbackend::test::createWindow(display_, root.x(), root.y(), root.width(), root.height(),
                                         "_NET_WM_WINDOW_TYPE_POPUP_MENU");
    XMapRaised(display_, menu);
    XFlush(display_);
    return menu;
}

void XProbe::destroy(unsigned long window) {
    QuietErrors quiet(*connection_);
    XDestroyWindow(display_, window);
    XFlush(display_);
}

bool XProbe::isKeyboardGrabbed() {
    QuietErrors quiet(*connection_);
    const int result = XGrabKeyboard(display_, DefaultRootWindow(display_), False, GrabModeAsync,
                                     GrabModeAsync, CurrentTime);
    if (result == GrabSuccess) {
        XUngrabKeyboard(display_, CurrentTime);
    }
    XSync(display_, False);
    return result == AlreadyGrabbed;
}

void XProbe::tapKey(const char* keysymName) {
    const ::KeyCode code = XKeysymToKeycode(display_, XStringToKeysym(keysymName));
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    XFlush(display_);
}

void XProbe::click(QPoint root) {
    XTestFakeMotionEvent(display_, -1, root.x(), root.y(), CurrentTime);
    XTestFakeButtonEvent(display_, 1, True, CurrentTime);
    XTestFakeButtonEvent(display_, 1, False, CurrentTime);
    XFlush(display_);
}

ConfigureWatch::ConfigureWatch(unsigned long window)
    : display_(XOpenDisplay(nullptr)), window_(window) {
    if (display_) {
        XSelectInput(display_, window_, StructureNotifyMask);
        XSync(display_, False);
    }
}

ConfigureWatch::~ConfigureWatch() {
    if (display_) {
        XCloseDisplay(display_);
    }
}

bool ConfigureWatch::sawMoveAwayFrom(const QRect& root) {
    while (display_ && XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == ConfigureNotify && event.xconfigure.send_event &&
            event.xconfigure.window == window_ &&
            QPoint(event.xconfigure.x, event.xconfigure.y) != root.topLeft()) {
            movedAway_ = true;
        }
    }
    return movedAway_;
}

Xterm::Xterm() = default;
Xterm::Xterm(Xterm&&) noexcept = default;
Xterm::~Xterm() = default;

Xterm startXterm(XProbe& probe, const std::string& title, QPoint rootTopLeft) {
    Xterm xterm;
    xterm.process = std::make_unique<linuxbackend::test::ChildProcess>(std::vector<std::string>{
        "xterm", "-T", title, "-bg", "white", "-geometry",
        "60x20+" + std::to_string(rootTopLeft.x()) + "+" + std::to_string(rootTopLeft.y()), "-e",
        "cat"});
    const pid_t pid = xterm.process->pid();
    waitUntil([&] {
        xterm.window = probe.clientWindowOf(pid);
        return xterm.window != 0 && probe.geometry(xterm.window).has_value() &&
               probe.activeWindow() == xterm.window;
    });
    return xterm;
}

} // namespace orvane::ui::test
