#pragma once

#include "backends/linux/x11/X11WindowList.hpp"

#include <X11/Xlib.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace orvane::linuxbackend {

class X11Connection;

// The window list and the active window, kept until the X server says something changed.
// A connection of its own watches the root (client list, active window, windows mapped,
// moved, restacked, resized, destroyed) and every listed window (title, class, type, frame
// extents, geometry); a question with nothing changed since the last answer costs no round
// trip, and a window raised or dragged is restacked or moved in the list from its event alone. The
// server writes those events before it answers any later request, and every question first takes in
// whatever has arrived, so a change another client has already seen is seen here too. When the
// watch cannot be set up, every question reads the server. Main thread; the watch drains its
// connection on a thread of its own so that nothing piles up while nobody asks.
class X11WindowCache {
public:
    using Windows = std::shared_ptr<const std::vector<X11WindowInfo>>;

    explicit X11WindowCache(std::shared_ptr<X11Connection> connection);
    ~X11WindowCache();
    X11WindowCache(const X11WindowCache&) = delete;
    X11WindowCache& operator=(const X11WindowCache&) = delete;

    // Front to back, as X11WindowList::query; null when the connection is gone. The same list
    // object is handed out until something changes.
    Windows windows();

    // The cache's list when there is a cache, else a fresh read of `connection`.
    static Windows windowsFrom(X11WindowCache* cache, X11Connection& connection);

    // _NET_ACTIVE_WINDOW; None when none.
    Window activeWindow();

    // Waits until the window manager names `window` active, at most `timeout`; reads the
    // property only when it has changed. Without the watch it looks once.
    bool waitForActive(Window window, std::chrono::milliseconds timeout);

    // Forgets what is known: the next question reads the server.
    void invalidate();

    // How many times the list was read from the server.
    std::uint64_t reads() const { return reads_; }

    bool isWatching() const;

private:
    struct Watch;

    // A new list from the last one with the root's children restacked and moved as their
    // events said; false when it cannot be made (then the list is read again). Holds the
    // watch's lock.
    bool reshuffleLocked();

    std::shared_ptr<X11Connection> connection_;
    std::unique_ptr<Watch> watch_;
    Windows windows_;
    // Where each child of the root was when `windows_` was made.
    std::unordered_map<Window, plinth::Point> origins_;
    Window active_ = None;
    std::uint64_t reads_ = 0;
};

} // namespace orvane::linuxbackend
