#pragma once

#include "backends/linux/x11/X11EventThread.hpp"
#include "orvane/platform/MainQueue.hpp"
#include "orvane/platform/Subscription.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace orvane::linuxbackend {

class X11Connection;

// Watches XRandR for added, removed, moved or resized monitors on a connection and thread of its
// own, and calls the observers on the main queue. The thread starts with the first observer.
class X11DisplayWatcher {
public:
    explicit X11DisplayWatcher(std::function<std::shared_ptr<MainQueue>()> mainQueue);
    ~X11DisplayWatcher();
    X11DisplayWatcher(const X11DisplayWatcher&) = delete;
    X11DisplayWatcher& operator=(const X11DisplayWatcher&) = delete;

    // Main thread. The handler is never called after the subscription ends.
    Subscription observe(std::function<void()> handler);

private:
    struct Observers {
        std::mutex mutex;
        std::map<std::uint64_t, std::function<void()>> handlers;
        std::uint64_t next = 1;
    };

    void start();
    void notify();

    std::function<std::shared_ptr<MainQueue>()> mainQueue_;
    std::shared_ptr<Observers> observers_ = std::make_shared<Observers>();
    std::unique_ptr<X11Connection> connection_;
    X11EventThread events_; // after the connection: stops before it closes
    bool changed_ = false;  // event thread only
    int eventBase_ = 0;
};

} // namespace orvane::linuxbackend
