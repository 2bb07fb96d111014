#include "backends/linux/x11/X11Connection.hpp"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <poll.h>

namespace orvane::linuxbackend {
namespace {

std::mutex registryMutex;
std::vector<std::pair<::Display*, X11Connection*>> registry;

void registerConnection(::Display* display, X11Connection* connection) {
    std::lock_guard lock(registryMutex);
    registry.emplace_back(display, connection);
}

void unregisterConnection(::Display* display) {
    std::lock_guard lock(registryMutex);
    std::erase_if(registry, [display](const auto& entry) { return entry.first == display; });
}

// Global handler: Xlib allows one per process. Another library may install its own after us, so
// every trap re-installs ours.
int (*ourHandler)(::Display*, XErrorEvent*) = nullptr;

void installErrorHandler() {
    XSetErrorHandler(ourHandler);
}

} // namespace

std::string latin1ToUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

int X11Connection::onError(::Display* display, XErrorEvent* event) {
    std::lock_guard lock(registryMutex);
    for (auto& [known, connection] : registry) {
        if (known == display) {
            if (connection->lastErrorCode_ == 0) {
                connection->lastErrorCode_ = event->error_code;
            }
            break;
        }
    }
    // Errors of connections that are not ours (another library's) are dropped too: Xlib's default
    // would end the process.
    return 0;
}

void X11Connection::onConnectionLost(::Display*, void* self) {
    // Returning (instead of exiting, as Xlib's default does) leaves the display marked broken;
    // every later request fails quietly.
    static_cast<X11Connection*>(self)->dead_.store(true);
}

std::unique_ptr<X11Connection> X11Connection::open(const char* displayName, std::string* error) {
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        ourHandler = &X11Connection::onError;
        installErrorHandler();
        // Xlib calls this before the per-connection exit handler; returning is fine since 1.7.
        XSetIOErrorHandler([](::Display*) { return 0; });
    });
    const char* name = displayName ? displayName : std::getenv("DISPLAY");
    if (!name || !*name) {
        if (error) {
            *error = "no X display (DISPLAY is not set)";
        }
        return nullptr;
    }
    ::Display* display = XOpenDisplay(name);
    if (!display) {
        if (error) {
            *error = std::string("cannot open X display ") + name;
        }
        return nullptr;
    }
    return std::unique_ptr<X11Connection>(new X11Connection(display));
}

X11Connection::X11Connection(::Display* display)
    : display_(display), root_(DefaultRootWindow(display)) {
    registerConnection(display_, this);
    XSetIOErrorExitHandler(display_, &X11Connection::onConnectionLost, this);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask = PropertyChangeMask;
    privateWindow_ = XCreateWindow(display_, root_, -100, -100, 1, 1, 0, CopyFromParent, InputOnly,
                                   CopyFromParent, CWOverrideRedirect | CWEventMask, &attributes);
    XFlush(display_);
}

X11Connection::~X11Connection() {
    if (xcb_) {
        xcb_disconnect(xcb_);
    }
    if (isAlive()) {
        XDestroyWindow(display_, privateWindow_);
    }
    XCloseDisplay(display_);
    unregisterConnection(display_);
}

xcb_connection_t* X11Connection::xcb() {
    if (xcb_ && xcb_connection_has_error(xcb_)) {
        xcb_disconnect(xcb_);
        xcb_ = nullptr;
    }
    if (!xcb_ && !xcbFailed_ && isAlive()) {
        xcb_ = xcb_connect(DisplayString(display_), nullptr);
        if (xcb_connection_has_error(xcb_)) {
            xcb_disconnect(xcb_);
            xcb_ = nullptr;
            xcbFailed_ = true;
        }
    }
    return xcb_;
}

Atom X11Connection::atom(const char* name) {
    for (const auto& entry : atoms_) {
        if (entry.name == name) {
            return entry.atom;
        }
    }
    Atom atom = isAlive() ? XInternAtom(display_, name, False) : None;
    if (atom != None) {
        atoms_.push_back({name, atom});
    }
    return atom;
}

X11Connection::ErrorTrap::ErrorTrap(X11Connection& connection)
    : connection_(connection), previousCode_(connection.lastErrorCode_) {
    installErrorHandler();
    connection_.lastErrorCode_ = 0;
    ++connection_.trapDepth_;
}

X11Connection::ErrorTrap::~ErrorTrap() {
    --connection_.trapDepth_;
    connection_.lastErrorCode_ = previousCode_;
}

int X11Connection::ErrorTrap::sync() {
    if (!connection_.isAlive()) {
        return BadImplementation;
    }
    XSync(connection_.display_, False);
    return connection_.lastErrorCode_;
}

// Reads a property of the wanted format and type; nothing when it is missing or different.
template <typename Result, typename Convert>
std::optional<Result> X11Connection::readProperty(Window window, Atom property, Atom type,
                                                  int format, long maxLongs, Convert convert) {
    if (!isAlive() || window == None || property == None) {
        return std::nullopt;
    }
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    int status = XGetWindowProperty(display_, window, property, 0, maxLongs, False, type,
                                    &actualType, &actualFormat, &count, &remaining, &data);
    std::optional<Result> result;
    if (status == Success && actualType != None && actualFormat == format &&
        (type == AnyPropertyType || actualType == type)) {
        result.emplace(convert(data, count));
    }
    if (data) {
        XFree(data);
    }
    return result;
}

std::optional<std::vector<long>> X11Connection::property32(Window window, Atom property, Atom type,
                                                           long maxItems) {
    return readProperty<std::vector<long>>(
        window, property, type, 32, maxItems, [](unsigned char* data, unsigned long count) {
            // Xlib hands format-32 items as longs.
            const long* items = reinterpret_cast<const long*>(data);
            return std::vector<long>(items, items + count);
        });
}

std::optional<std::string> X11Connection::property8(Window window, Atom property, Atom type,
                                                    long maxBytes) {
    return readProperty<std::string>(window, property, type, 8, (maxBytes + 3) / 4,
                                     [](unsigned char* data, unsigned long count) {
                                         return std::string(reinterpret_cast<const char*>(data),
                                                            count);
                                     });
}

std::optional<std::string> X11Connection::textProperty(Window window, const char* utf8Name,
                                                       const char* legacyName) {
    if (auto text = property8(window, atom(utf8Name), atom("UTF8_STRING"))) {
        return text;
    }
    if (legacyName) {
        Atom legacy = atom(legacyName);
        if (auto text = property8(window, legacy, XA_STRING)) {
            return latin1ToUtf8(*text);
        }
        // Some clients store the legacy name as UTF8_STRING or COMPOUND_TEXT.
        if (auto text = property8(window, legacy, atom("UTF8_STRING"))) {
            return text;
        }
    }
    return std::nullopt;
}

std::optional<XWindowAttributes> X11Connection::attributes(Window window) {
    if (!isAlive() || window == None) {
        return std::nullopt;
    }
    XWindowAttributes result{};
    if (!XGetWindowAttributes(display_, window, &result)) {
        return std::nullopt;
    }
    return result;
}

Window X11Connection::parent(Window window) {
    if (!isAlive() || window == None) {
        return None;
    }
    Window rootReturn = None, parentReturn = None;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display_, window, &rootReturn, &parentReturn, &children, &count)) {
        return None;
    }
    if (children) {
        XFree(children);
    }
    return parentReturn;
}

Time X11Connection::serverTime() {
    if (!isAlive()) {
        return CurrentTime;
    }
    Atom stamp = atom("_ORVANE_TIMESTAMP");
    XChangeProperty(display_, privateWindow_, stamp, XA_STRING, 8, PropModeAppend, nullptr, 0);
    Time time = CurrentTime;
    Window ours = privateWindow_;
    waitForEvent(
        [&](const XEvent& event) {
            if (event.type == PropertyNotify && event.xproperty.window == ours &&
                event.xproperty.atom == stamp) {
                time = event.xproperty.time;
                return true;
            }
            return false;
        },
        std::chrono::milliseconds(200));
    return time;
}

bool X11Connection::waitForEvent(const std::function<bool(const XEvent&)>& match,
                                 std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    XFlush(display_);
    while (isAlive()) {
        // This connection has no event loop: whatever else arrives meanwhile is dropped.
        while (XEventsQueued(display_, QueuedAfterReading) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (match(event)) {
                return true;
            }
        }
        auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (remaining.count() <= 0) {
            return false;
        }
        pollfd descriptor{ConnectionNumber(display_), POLLIN, 0};
        if (poll(&descriptor, 1, static_cast<int>(remaining.count()) + 1) < 0 && errno != EINTR) {
            return false;
        }
    }
    return false;
}

void X11Connection::discardEvents() {
    if (!isAlive()) {
        return;
    }
    while (XEventsQueued(display_, QueuedAfterReading) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
    }
}

} // namespace orvane::linuxbackend
