#pragma once

#include <X11/Xlib.h>

struct xcb_connection_t;

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane::linuxbackend {

// Text of the legacy STRING type (ISO 8859-1) as UTF-8.
std::string latin1ToUtf8(const std::string& text);

// One Xlib connection that can never take the process down. X errors are normal here (windows
// vanish between two requests), so they are recorded per connection and never reach Xlib's
// default handler, which would exit; a lost connection marks the object dead instead of exiting,
// and every later query answers "nothing".
//
// One thread at a time per connection: the main connection belongs to the main thread, the input
// monitor opens its own.
class X11Connection {
public:
    // Opens `displayName` (null: $DISPLAY). nullptr with a reason in `error` when it fails.
    static std::unique_ptr<X11Connection> open(const char* displayName, std::string* error);

    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    ::Display* display() const { return display_; }
    ::Window root() const { return root_; }
    bool isAlive() const { return !dead_.load(); }

    // Interned once and cached.
    Atom atom(const char* name);

    // Counts the X errors raised on this connection by the requests made while it lives.
    class ErrorTrap {
    public:
        explicit ErrorTrap(X11Connection& connection);
        ~ErrorTrap();
        ErrorTrap(const ErrorTrap&) = delete;
        ErrorTrap& operator=(const ErrorTrap&) = delete;
        // Waits for the server to process everything sent so far; the first error code, 0 if none.
        int sync();

    private:
        X11Connection& connection_;
        int previousCode_;
    };

    // Raw property access; nullopt when the window is gone or the property is absent or of
    // another type/format. `type` AnyPropertyType accepts any type.
    std::optional<std::vector<long>> property32(Window window, Atom property, Atom type,
                                                long maxItems = 1024);
    std::optional<std::string> property8(Window window, Atom property, Atom type,
                                         long maxBytes = 4096);
    // UTF8_STRING first, then the Latin-1 STRING form (converted).
    std::optional<std::string> textProperty(Window window, const char* utf8Name,
                                            const char* legacyName);

    // Geometry and map state; nullopt when the window is gone.
    std::optional<XWindowAttributes> attributes(Window window);

    // The parent of `window`, or None when it is gone.
    Window parent(Window window);

    // A fresh server timestamp (a zero-length property append on a private window); CurrentTime
    // when the server does not answer in time.
    Time serverTime();

    // Waits until an event matching `match` arrives or `timeout` passes. Events that do not match
    // are dropped: the connection has no event loop of its own.
    bool waitForEvent(const std::function<bool(const XEvent&)>& match,
                      std::chrono::milliseconds timeout);

    // Drops every queued event: the main connection has no event loop of its own.
    void discardEvents();

    // Our own unmapped window (for timestamps and selections).
    Window privateWindow() const { return privateWindow_; }

    // A companion XCB connection to the same server, for queries that pipeline many requests
    // (the window list); null when it cannot be opened. Same thread as this connection.
    xcb_connection_t* xcb();

private:
    explicit X11Connection(::Display* display);
    static int onError(::Display* display, XErrorEvent* event);
    static void onConnectionLost(::Display* display, void* self);
    template <typename Result, typename Convert>
    std::optional<Result> readProperty(Window window, Atom property, Atom type, int format,
                                       long maxLongs, Convert convert);

    ::Display* display_;
    Window root_;
    Window privateWindow_ = None;
    xcb_connection_t* xcb_ = nullptr;
    bool xcbFailed_ = false;
    std::atomic<bool> dead_{false};
    // Written by the error handler on the thread that owns this connection.
    int lastErrorCode_ = 0;
    int trapDepth_ = 0;
    struct AtomEntry {
        std::string name;
        Atom atom;
    };
    std::vector<AtomEntry> atoms_;
};

} // namespace orvane::linuxbackend
