#pragma once

#include "backends/linux/wayland/CompositorLink.hpp"
#include "backends/linux/wayland/ListenerSet.hpp"
#include "orvane/platform/MainQueue.hpp"
#include "orvane/platform/Platform.hpp"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace orvane::linuxbackend {

// What a compositor link's worker and its callers share: the snapshot, whether the first look
// at the compositor is done, and the listeners. A link keeps what else its worker and callers
// share under the same lock.
struct CompositorLinkState {
    // `queue` delivers the listeners' calls; null: the installed platform's at each event.
    explicit CompositorLinkState(std::shared_ptr<MainQueue> queue) : mainQueue(std::move(queue)) {}

    // Any thread: a copy of the snapshot.
    CompositorSnapshot current() const {
        std::lock_guard lock(mutex);
        return snapshot;
    }
    // Any thread: tells the listeners on the main queue.
    void post(CompositorEvent event) const {
        listeners.post(mainQueue ? mainQueue : (hasPlatform() ? platform().mainQueue : nullptr),
                       std::move(event));
    }
    void markSettled() {
        {
            std::lock_guard lock(mutex);
            settled = true;
        }
        changed.notify_all();
    }
    bool waitUntilSettled(std::chrono::milliseconds timeout) const {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [this] { return settled; });
    }

    const std::shared_ptr<MainQueue> mainQueue;
    ListenerSet<CompositorEvent> listeners;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    // Guarded by mutex:
    bool settled = false;
    CompositorSnapshot snapshot;
};

} // namespace orvane::linuxbackend
