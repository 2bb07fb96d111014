#pragma once

#include "backends/linux/wayland/ListenerSet.hpp"
#include "orvane/platform/MainQueue.hpp"
#include "orvane/platform/Subscription.hpp"
#include "plinth/Geometry.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct wl_display;
struct wl_compositor;
struct wl_shm;
struct wl_seat;
struct wl_output;
struct wl_registry;
struct ext_idle_notifier_v1;
struct org_kde_kwin_idle;
struct zwlr_layer_shell_v1;

namespace orvane::linuxbackend {

class WaylandLoop;

// One output as the compositor lays it out: its logical rectangle is in stage coordinates.
struct WaylandOutput {
    std::uint32_t globalName = 0;
    std::string name; // the connector: "HEADLESS-1", "Virtual-1"
    std::string description;
    plinth::Rect logical;
    int scale = 1;
};

// What the worker last knew of the connection. Any thread reads a copy.
struct WaylandClientState {
    bool connected = false;
    // Why there is no connection ("no Wayland display", the compositor's error), when not.
    std::string problem;
    std::vector<WaylandOutput> outputs;
    bool seat = false;
    bool idleNotifier = false; // ext_idle_notifier_v1
    bool kdeIdle = false;      // org_kde_kwin_idle
    bool layerShell = false;   // zwlr_layer_shell_v1
};

struct WaylandClientEvent {
    enum class Kind {
        connected, // the globals are bound (again)
        gone,      // the compositor went, or refused us
        outputsChanged,
    };
    Kind kind = Kind::connected;
};

// The connection's globals as the worker holds them: valid only inside worker calls (the
// parts' callbacks and `onWorker` tasks).
struct WaylandGlobals {
    struct Output {
        WaylandOutput info;
        wl_output* output = nullptr;
    };
    wl_display* display = nullptr;
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    wl_seat* seat = nullptr;
    ext_idle_notifier_v1* idleNotifier = nullptr;
    org_kde_kwin_idle* kdeIdle = nullptr;
    zwlr_layer_shell_v1* layerShell = nullptr;
    std::vector<Output> outputs; // those whose layout is known
    // Every global the compositor lists, for parts that bind their own.
    struct Offer {
        std::uint32_t name = 0;
        std::string interface;
        std::uint32_t version = 0;
    };
    wl_registry* registry = nullptr;
    std::vector<Offer> offers;

    const Output* outputAt(plinth::Point point) const;
};

// Something of Orvane's that keeps objects on the connection. Called on the worker only.
class WaylandPart {
public:
    virtual ~WaylandPart() = default;
    // The globals are bound: make the objects (again, after a reconnection).
    virtual void connected(WaylandGlobals& globals) = 0;
    virtual void outputsChanged(WaylandGlobals&) {}
    // The connection ends (the compositor went, the part is detached, the client ends):
    // destroy every object made on it.
    virtual void disconnecting() = 0;
};

// Orvane's own connection to the Wayland compositor (WAYLAND_DISPLAY) on a worker thread, for
// what a plain client may have: outputs, activity, layer surfaces. A compositor that goes
// away is reported gone and tried again every `reconnectMilliseconds` (KWin can restart
// under its socket).
class WaylandClient {
public:
    static constexpr int reconnectMilliseconds = 2000;

    // `display`: a socket name or path; empty: WAYLAND_DISPLAY. `mainQueue` delivers the
    // listeners' calls; when null, the installed platform's at each event.
    explicit WaylandClient(std::shared_ptr<MainQueue> mainQueue, std::string display = {});
    // Destroys the parts' objects and disconnects; joins the worker.
    ~WaylandClient();
    WaylandClient(const WaylandClient&) = delete;
    WaylandClient& operator=(const WaylandClient&) = delete;

    // Any thread.
    WaylandClientState state() const;

    // Main thread: `listener` is called on the main queue for every event, never after the
    // subscription ends.
    Subscription listen(std::function<void(const WaylandClientEvent&)> listener);

    // Any thread: the worker takes the part (calls `connected` at once when connected) or lets
    // it go (calls `disconnecting` first); no call of the part starts after its detach ran.
    void attach(std::shared_ptr<WaylandPart> part);
    void detach(std::shared_ptr<WaylandPart> part);

    // Any thread: runs `task` on the worker while connected; dropped when not.
    void onWorker(std::function<void(WaylandGlobals&)> task);

    // Any thread: waits until the first connection attempt is done, connected or not.
    bool waitUntilSettled(std::chrono::milliseconds timeout) const;

private:
    friend class WaylandLoop;

    void run();
    void post(WaylandClientEvent event);
    void push(std::function<void(WaylandLoop&)> task);
    void markSettled();
    std::shared_ptr<MainQueue> queue() const;

    std::shared_ptr<MainQueue> mainQueue_;
    std::string display_;
    ListenerSet<WaylandClientEvent> listeners_;
    mutable std::mutex mutex_;
    mutable std::condition_variable settledChanged_;
    bool settled_ = false;                                 // guarded by mutex_
    WaylandClientState state_;                             // guarded by mutex_
    std::vector<std::function<void(WaylandLoop&)>> tasks_; // guarded by mutex_
    std::atomic<bool> stopping_{false};
    int wakeFd_ = -1;
    std::thread thread_; // last: ends before the rest goes
};

} // namespace orvane::linuxbackend
