#include "backends/linux/x11/X11WindowCache.hpp"

#include "backends/linux/runtime/WorkerWakeUp.hpp"
#include "backends/linux/x11/X11Connection.hpp"

#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace orvane::linuxbackend {

struct X11WindowCache::Watch {
    xcb_connection_t* xcb = nullptr;
    xcb_window_t root = XCB_NONE;
    xcb_atom_t clientList = XCB_NONE, active = XCB_NONE;
    // The properties the window list reads from each window.
    std::vector<xcb_atom_t> described;

    std::mutex mutex;
    std::condition_variable changed;
    // Guarded by `mutex`, as is every use of `xcb` that reads events.
    bool listStale = true;
    bool activeStale = true;
    std::unordered_set<xcb_window_t> watched;
    // Watched windows that no window manager manages. Some window managers keep such a window
    // of their own, hidden at one pixel, and append to its class for every timestamp they
    // need: its class changing is no news (a pop-up's class is set before it is mapped).
    std::unordered_set<xcb_window_t> unmanaged;
    // The root's children bottom to top and where they are, as last read and since kept up to
    // date from their events: restacking and moving a window (what every switch of focus and
    // every drag does) needs no new listing. Anything else, or anything while a listing is
    // being read, does.
    bool reading = false;
    bool reshuffled = false;
    std::vector<X11RootChild> stack;

    std::thread thread;
    int wakeFd = -1;

    ~Watch() {
        wakeJoinAndClose(thread, wakeFd);
        if (xcb) {
            xcb_disconnect(xcb);
        }
    }

    bool broken() const { return !xcb || xcb_connection_has_error(xcb); }

    void sync() { std::free(xcb_get_input_focus_reply(xcb, xcb_get_input_focus(xcb), nullptr)); }

    // Takes in every event that has arrived; true when one of them changed something.
    bool drainLocked() {
        bool any = false;
        while (xcb_generic_event_t* event = xcb_poll_for_event(xcb)) {
            any = handleLocked(*event) || any;
            std::free(event);
        }
        if (broken()) {
            // Nothing can be trusted any more: every question reads the server.
            listStale = activeStale = true;
            any = true;
        }
        return any;
    }

    bool handleLocked(const xcb_generic_event_t& event) {
        const bool synthetic = (event.response_type & 0x80) != 0;
        switch (event.response_type & 0x7f) {
        case XCB_PROPERTY_NOTIFY: {
            const auto& e = reinterpret_cast<const xcb_property_notify_event_t&>(event);
            if (e.window == root) {
                if (e.atom == active) {
                    activeStale = true;
                    return true;
                }
                // The stacking list changes with every restacking, which the frames' own events
                // tell; its set of windows is the client list's.
                if (e.atom == clientList) {
                    listStale = true;
                    return true;
                }
                return false;
            }
            // User times, icons, opaque regions and the like change all the time and say
            // nothing the list shows.
            if (e.atom == XCB_ATOM_WM_CLASS && unmanaged.count(e.window)) {
                return false;
            }
            if (std::find(described.begin(), described.end(), e.atom) != described.end()) {
                listStale = true;
                return true;
            }
            return false;
        }
        case XCB_CONFIGURE_NOTIFY:
            // Window managers tell clients of frame moves with synthetic ones; the real event of
            // the frame itself comes too.
            if (synthetic) {
                return false;
            }
            if (!restackOrMoveLocked(
                    reinterpret_cast<const xcb_configure_notify_event_t&>(event))) {
                listStale = true;
            }
            return true;
        case XCB_DESTROY_NOTIFY:
            // Its id may be handed out again, to a window we do not watch yet.
            watched.erase(reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window);
            unmanaged.erase(reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window);
            listStale = true;
            return true;
        case XCB_MAP_NOTIFY:
        case XCB_UNMAP_NOTIFY:
        case XCB_REPARENT_NOTIFY:
        case XCB_GRAVITY_NOTIFY:
        case XCB_CIRCULATE_NOTIFY:
            listStale = true;
            return true;
        default:
            return false; // errors (windows gone under our selections) and the rest
        }
    }

    // Applies a root child's restacking or move to `stack`; false when the event says more
    // (a resize, a window not known) or the stack is not to be trusted.
    bool restackOrMoveLocked(const xcb_configure_notify_event_t& e) {
        if (e.event != root || reading || listStale) {
            return false;
        }
        auto self = std::find_if(stack.begin(), stack.end(), [&](const X11RootChild& child) {
            return child.window == e.window;
        });
        if (self == stack.end()) {
            return false;
        }
        const double outer = 2.0 * e.border_width;
        if (self->frame.width != e.width + outer || self->frame.height != e.height + outer) {
            return false;
        }
        X11RootChild moved = *self;
        moved.frame.x = e.x;
        moved.frame.y = e.y;
        stack.erase(self);
        auto below = stack.begin(); // no sibling: the bottom
        if (e.above_sibling != XCB_NONE) {
            below = std::find_if(stack.begin(), stack.end(), [&](const X11RootChild& child) {
                return child.window == e.above_sibling;
            });
            if (below == stack.end()) {
                return false;
            }
            ++below;
        }
        stack.insert(below, moved);
        reshuffled = true;
        return true;
    }

    void run() {
        const int fd = xcb_get_file_descriptor(xcb);
        while (true) {
            {
                std::lock_guard lock(mutex);
                if (drainLocked()) {
                    changed.notify_all();
                }
                if (broken()) {
                    return;
                }
            }
            pollfd descriptors[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
            if (poll(descriptors, 2, -1) < 0 && errno != EINTR) {
                return;
            }
            if (descriptors[1].revents & POLLIN) {
                return;
            }
        }
    }

    // Selects the events of listed windows not watched yet. A window first seen in this listing
    // may have changed before the selection took effect, so the list is read once more.
    void watchLocked(const std::vector<X11WindowInfo>& windows) {
        bool added = false;
        auto select = [&](xcb_window_t window, std::uint32_t mask) {
            if (window != XCB_NONE && window != root && watched.insert(window).second) {
                xcb_change_window_attributes(xcb, window, XCB_CW_EVENT_MASK, &mask);
                added = true;
            }
        };
        for (const auto& info : windows) {
            if (info.topLevel == info.window) {
                // A child of the root: its structure is reported through the root's.
                select(static_cast<xcb_window_t>(info.window), XCB_EVENT_MASK_PROPERTY_CHANGE);
                if (info.overrideRedirect) {
                    unmanaged.insert(static_cast<xcb_window_t>(info.window));
                }
                continue;
            }
            select(static_cast<xcb_window_t>(info.window),
                   XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY);
            // Moves of the client (or a wrapper) inside the window manager's frame.
            select(static_cast<xcb_window_t>(info.topLevel), XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
        }
        if (added) {
            sync();
            drainLocked();
            listStale = true;
        }
    }
};

X11WindowCache::X11WindowCache(std::shared_ptr<X11Connection> connection)
    : connection_(std::move(connection)) {
    if (!connection_->isAlive()) {
        return;
    }
    auto watch = std::make_unique<Watch>();
    watch->xcb = xcb_connect(DisplayString(connection_->display()), nullptr);
    if (watch->broken()) {
        return;
    }
    watch->root = static_cast<xcb_window_t>(connection_->root());
    watch->clientList = connection_->atom("_NET_CLIENT_LIST");
    watch->active = connection_->atom("_NET_ACTIVE_WINDOW");
    for (const char* name :
         {"_NET_FRAME_EXTENTS", "_GTK_FRAME_EXTENTS", "_NET_WM_STATE", "_NET_WM_WINDOW_TYPE",
          "_NET_WM_PID", "_NET_WM_NAME", "_GTK_APPLICATION_ID"}) {
        watch->described.push_back(connection_->atom(name));
    }
    for (xcb_atom_t atom : {XCB_ATOM_WM_NAME, XCB_ATOM_WM_CLASS, XCB_ATOM_WM_TRANSIENT_FOR}) {
        watch->described.push_back(atom);
    }
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(watch->xcb, watch->root, XCB_CW_EVENT_MASK, &mask);
    watch->sync(); // watching before the first listing
    watch->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (watch->wakeFd < 0 || watch->broken()) {
        return;
    }
    Watch* raw = watch.get();
    watch->thread = std::thread([raw] { raw->run(); });
    watch_ = std::move(watch);
}

X11WindowCache::~X11WindowCache() = default;

bool X11WindowCache::isWatching() const {
    return watch_ && !watch_->broken();
}

X11WindowCache::Windows X11WindowCache::windowsFrom(X11WindowCache* cache,
                                                    X11Connection& connection) {
    if (cache) {
        return cache->windows();
    }
    auto windows = X11WindowList::query(connection);
    if (!windows) {
        return nullptr;
    }
    return std::make_shared<const std::vector<X11WindowInfo>>(std::move(*windows));
}

X11WindowCache::Windows X11WindowCache::windows() {
    if (!connection_->isAlive()) {
        windows_.reset();
        return nullptr;
    }
    const bool watching = isWatching();
    if (watching) {
        std::lock_guard lock(watch_->mutex);
        watch_->drainLocked();
        if (!watch_->listStale && windows_) {
            if (watch_->reshuffled && !reshuffleLocked()) {
                watch_->listStale = true;
            } else if (!watch_->listStale) {
                return windows_;
            }
        }
        if (watch_->listStale || !windows_) {
            // Whatever changes from here on marks the list again.
            watch_->listStale = false;
            watch_->reading = true;
        }
    }
    std::vector<X11RootChild> stack;
    auto list = X11WindowList::query(*connection_, watching ? &stack : nullptr);
    ++reads_;
    if (!list) {
        windows_.reset();
        if (watching) {
            std::lock_guard lock(watch_->mutex);
            watch_->reading = false;
            watch_->listStale = true;
        }
        return nullptr;
    }
    windows_ = std::make_shared<const std::vector<X11WindowInfo>>(std::move(*list));
    if (watching) {
        std::lock_guard lock(watch_->mutex);
        // What arrived while the listing was read marked it stale already.
        watch_->drainLocked();
        watch_->reading = false;
        watch_->reshuffled = false;
        watch_->stack = std::move(stack);
        origins_.clear();
        for (const auto& child : watch_->stack) {
            origins_[child.window] = {child.frame.x, child.frame.y};
        }
        watch_->watchLocked(*windows_);
    }
    return windows_;
}

bool X11WindowCache::reshuffleLocked() {
    watch_->reshuffled = false;
    std::unordered_map<Window, std::size_t> position;
    for (std::size_t i = 0; i < watch_->stack.size(); ++i) {
        position[watch_->stack[i].window] = i;
    }
    struct Placed {
        std::size_t position;
        X11WindowInfo info;
    };
    std::vector<Placed> placed;
    placed.reserve(windows_->size());
    for (const auto& info : *windows_) {
        const auto at = position.find(info.topLevel);
        const auto origin = origins_.find(info.topLevel);
        if (at == position.end() || origin == origins_.end()) {
            return false;
        }
        X11WindowInfo moved = info;
        const auto& frame = watch_->stack[at->second].frame;
        const double dx = frame.x - origin->second.x;
        const double dy = frame.y - origin->second.y;
        moved.rootFrame.x += dx;
        moved.rootFrame.y += dy;
        moved.clientFrame.x += dx;
        moved.clientFrame.y += dy;
        placed.push_back({at->second, std::move(moved)});
    }
    // Front to back; a frame's windows keep their order.
    std::stable_sort(placed.begin(), placed.end(),
                     [](const Placed& a, const Placed& b) { return a.position > b.position; });
    std::vector<X11WindowInfo> windows;
    windows.reserve(placed.size());
    for (auto& entry : placed) {
        windows.push_back(std::move(entry.info));
    }
    for (const auto& child : watch_->stack) {
        origins_[child.window] = {child.frame.x, child.frame.y};
    }
    windows_ = std::make_shared<const std::vector<X11WindowInfo>>(std::move(windows));
    return true;
}

Window X11WindowCache::activeWindow() {
    if (isWatching()) {
        std::lock_guard lock(watch_->mutex);
        watch_->drainLocked();
        if (!watch_->activeStale) {
            return active_;
        }
        watch_->activeStale = false;
    }
    active_ = X11WindowList::activeWindow(*connection_);
    return active_;
}

bool X11WindowCache::waitForActive(Window window, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (!isWatching()) {
        active_ = X11WindowList::activeWindow(*connection_);
        return active_ == window;
    }
    std::unique_lock lock(watch_->mutex);
    while (true) {
        watch_->drainLocked();
        if (watch_->activeStale) {
            watch_->activeStale = false;
            lock.unlock();
            active_ = X11WindowList::activeWindow(*connection_);
            if (active_ == window) {
                return true;
            }
            lock.lock();
            continue;
        }
        if (watch_->broken() || !connection_->isAlive()) {
            return false;
        }
        if (watch_->changed.wait_until(lock, deadline) == std::cv_status::timeout) {
            watch_->drainLocked();
            if (!watch_->activeStale) {
                return false;
            }
            watch_->activeStale = false;
            lock.unlock();
            active_ = X11WindowList::activeWindow(*connection_);
            return active_ == window;
        }
    }
}

void X11WindowCache::invalidate() {
    if (watch_) {
        std::lock_guard lock(watch_->mutex);
        watch_->listStale = watch_->activeStale = true;
    }
    windows_.reset();
}

} // namespace orvane::linuxbackend
