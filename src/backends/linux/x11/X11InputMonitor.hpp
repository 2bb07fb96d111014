#pragma once

#include "backends/linux/x11/X11EventThread.hpp"
#include "orvane/platform/InputMonitor.hpp"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace orvane::linuxbackend {

class X11Connection;

// Global input monitors from XInput 2.2 raw events, which reach a client for input to every
// other client (even under another client's grab). They run on a second X connection with a
// thread of their own; handlers are called on that thread. Raw events carry no modifier state,
// so it comes from XKB state notifications.
class X11InputMonitor : public InputMonitor {
public:
    X11InputMonitor();
    ~X11InputMonitor() override;
    X11InputMonitor(const X11InputMonitor&) = delete;
    X11InputMonitor& operator=(const X11InputMonitor&) = delete;

    std::optional<MonitorToken>
    addGlobalMonitor(std::uint64_t mask, std::function<void(const InputEvent&)> handler) override;
    void removeMonitor(MonitorToken token) override;

private:
    struct Monitor {
        std::uint64_t mask;
        std::function<void(const InputEvent&)> handler;
    };

    bool start();
    void handle(XEvent& event);
    void dispatch(const InputEvent& event);
    void handleRawEvent(int type, unsigned int detail);
    void handleModifierState(unsigned int xState);

    // Held while a handler runs, so that removing a monitor waits for a call in progress and no
    // call starts afterwards. Recursive: a handler may remove monitors itself.
    std::recursive_mutex monitorsMutex_;
    std::map<MonitorToken, Monitor> monitors_;
    MonitorToken nextToken_ = 1;

    std::mutex startMutex_;
    std::unique_ptr<X11Connection> connection_;
    X11EventThread events_; // after the connection: stops before it closes
    int xiOpcode_ = 0;
    int xkbEventBase_ = 0;
    bool startFailed_ = false;

    // Thread state.
    std::set<unsigned int> keysDown_;
    std::set<unsigned int> buttonsDown_;
    std::uint64_t flags_ = 0;
    int lastX_ = 0, lastY_ = 0;
};

} // namespace orvane::linuxbackend
