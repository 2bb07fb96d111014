#pragma once

// Helpers for the widget tests on the throw-away X desktop. No X11 header leaks from here: its
// macros clash with Qt's and GoogleTest's names.

#include "orvane/platform/Platform.hpp"

#include <QImage>
#include <QPoint>
#include <QRect>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

typedef struct _XDisplay XDisplay;

namespace orvane::linuxbackend {
class X11Connection;
namespace test {
class ChildProcess;
}
} // namespace orvane::linuxbackend

namespace orvane::ui::test {

using namespace std::chrono_literals;

// Runs Qt's event loop until `condition` holds or `timeout` passes, looking again whenever an
// event has been handled and at least every 10 ms.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s);

// The real Linux platform, installed for the object's lifetime.
class InstalledLinuxPlatform {
public:
    InstalledLinuxPlatform();
    ~InstalledLinuxPlatform();
    // Empty when the desktop services are there.
    const std::string& problem() const { return problem_; }

private:
    std::string problem_;
    std::unique_ptr<PlatformInstallation> installation_;
};

// The test's own view of the X server: what is really on screen, and input as a user makes it.
class XProbe {
public:
    XProbe();
    ~XProbe();
    XProbe(const XProbe&) = delete;
    XProbe& operator=(const XProbe&) = delete;

    // The window's area in root coordinates while it is viewable.
    std::optional<QRect> geometry(unsigned long window);
    bool exists(unsigned long window);
    bool isViewable(unsigned long window);
    // The first 32-bit item of a CARDINAL property.
    std::optional<unsigned long> cardinal(unsigned long window, const char* property);
    bool isOverrideRedirect(unsigned long window);
    // The viewable child of the root that the server stacks on top of all others.
    unsigned long topmostViewable();
    // No rectangle in the window's input shape: every click goes through it.
    bool inputShapeIsEmpty(unsigned long window);

    // A compositing manager runs (translucent windows are blended).
    bool isCompositing();

    // What the screen shows there now.
    QImage grab(const QRect& root);

    unsigned long activeWindow();
    // Asks for the window to move, as its application would (the window manager decides).
    void move(unsigned long window, QPoint root);
    // Asks the window manager to keep the window above the others, or to stop.
    void keepAbove(unsigned long window, bool above);
    // Asks the window manager to activate (and raise) the window, as a pager would.
    void activate(unsigned long window);
    void focus(unsigned long window);
    // The managed window of this process, once the window manager has it.
    unsigned long clientWindowOf(pid_t pid);

    // A pop-up menu of another client, as toolkits make them; destroyed with `destroy`.
    unsigned long showPopUpMenu(const QRect& root);
    void destroy(unsigned long window);

    void tapKey(const char* keysymName);
    // Whether some client holds the keyboard grab (asked by trying to take it).
    bool isKeyboardGrabbed();
    void click(QPoint root);

private:
    std::unique_ptr<linuxbackend::X11Connection> connection_;
    XDisplay* display_ = nullptr;
};

// Where the window manager says a window went: its synthetic ConfigureNotify events, which
// carry root coordinates. Queued by the server, so none is missed however briefly the window
// stayed there.
class ConfigureWatch {
public:
    explicit ConfigureWatch(unsigned long window);
    ~ConfigureWatch();
    ConfigureWatch(const ConfigureWatch&) = delete;
    ConfigureWatch& operator=(const ConfigureWatch&) = delete;

    // The window was reported anywhere but at `root`'s top-left corner.
    bool sawMoveAwayFrom(const QRect& root);

private:
    XDisplay* display_ = nullptr;
    unsigned long window_ = 0;
    bool movedAway_ = false;
};

// An xterm (white, showing `cat`) whose window's top-left corner the window manager put at
// `rootTopLeft`, or close to it.
struct Xterm {
    std::unique_ptr<linuxbackend::test::ChildProcess> process;
    unsigned long window = 0;
    Xterm();
    Xterm(Xterm&&) noexcept;
    ~Xterm();
};
Xterm startXterm(XProbe& probe, const std::string& title, QPoint rootTopLeft);

// True when the colour is that of pure black.
inline bool isBlack(QRgb pixel) {
    return qRed(pixel) < 8 && qGreen(pixel) < 8 && qBlue(pixel) < 8;
}

} // namespace orvane::ui::test
