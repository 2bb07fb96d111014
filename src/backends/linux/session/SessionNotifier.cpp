#include "backends/linux/session/SessionNotifier.hpp"

#include "backends/linux/session/SessionWatcher.hpp"

#include <utility>

namespace orvane::linuxbackend {

SessionNotifier::SessionNotifier(std::function<std::shared_ptr<MainQueue>()> mainQueue,
                                 std::function<void()> watching)
    : watching_(std::move(watching)), observers_(std::move(mainQueue)) {}

SessionNotifier::~SessionNotifier() = default;

Subscription SessionNotifier::observe(WorkspaceEvent event, std::function<void()> handler) {
    auto subscription = observers_.add(static_cast<int>(event), std::move(handler));
    if (!watcher_) {
        // On the watcher's thread, which ends before this object does.
        watcher_ = std::make_unique<SessionWatcher>(
            [this](WorkspaceEvent reported) { observers_.notify(static_cast<int>(reported)); },
            std::move(watching_));
    }
    return subscription;
}

} // namespace orvane::linuxbackend
