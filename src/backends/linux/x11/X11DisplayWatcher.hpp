#pragma once

#include "backends/linux/runtime/MainQueueObservers.hpp"
#include "backends/linux/x11/X11EventThread.hpp"
#include "orvane/platform/MainQueue.hpp"
#include "orvane/platform/Subscription.hpp"

#include <functional>
#include <memory>

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
    void start();

    MainQueueObservers observers_;
    std::unique_ptr<X11Connection> connection_;
    X11EventThread events_; // after the connection: stops before it closes
    bool changed_ = false;  // event thread only
    int eventBase_ = 0;
};

} // namespace orvane::linuxbackend
