#pragma once

#include "backends/linux/runtime/MainQueueObservers.hpp"
#include "orvane/platform/MainQueue.hpp"
#include "orvane/platform/Subscription.hpp"
#include "orvane/platform/Workspace.hpp"

#include <functional>
#include <memory>

namespace orvane::linuxbackend {

class SessionWatcher;

// Calls the observers of sleep, wake, screen lock and unlock on the main queue. The session
// watcher starts with the first observer and stops when this object goes.
class SessionNotifier {
public:
    // `mainQueue` is asked at each event, so a queue installed later is used. `watching` is
    // passed on to the watcher (for tests that must know when signals will be seen).
    explicit SessionNotifier(std::function<std::shared_ptr<MainQueue>()> mainQueue,
                             std::function<void()> watching = {});
    ~SessionNotifier();
    SessionNotifier(const SessionNotifier&) = delete;
    SessionNotifier& operator=(const SessionNotifier&) = delete;

    // Main thread. The handler is never called after the subscription ends.
    Subscription observe(WorkspaceEvent event, std::function<void()> handler);

private:
    std::function<void()> watching_;
    MainQueueObservers observers_;
    std::unique_ptr<SessionWatcher> watcher_; // last: its thread ends before the rest goes
};

} // namespace orvane::linuxbackend
