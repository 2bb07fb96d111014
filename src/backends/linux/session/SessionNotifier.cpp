#include "backends/linux/session/SessionNotifier.hpp"

#include "backends/linux/session/SessionWatcher.hpp"

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace orvane::linuxbackend {

struct SessionNotifier::Observers {
    struct Entry {
        WorkspaceEvent event;
        std::function<void()> handler;
    };
    std::mutex mutex;
    std::map<std::uint64_t, Entry> entries;
    std::uint64_t next = 1;
};

SessionNotifier::SessionNotifier(std::function<std::shared_ptr<MainQueue>()> mainQueue,
                                 std::function<void()> watching)
    : mainQueue_(std::move(mainQueue)), watching_(std::move(watching)),
      observers_(std::make_shared<Observers>()) {}

SessionNotifier::~SessionNotifier() = default;

Subscription SessionNotifier::observe(WorkspaceEvent event, std::function<void()> handler) {
    std::uint64_t id = 0;
    {
        std::lock_guard lock(observers_->mutex);
        id = observers_->next++;
        observers_->entries.emplace(id, Observers::Entry{event, std::move(handler)});
    }
    if (!watcher_) {
        watcher_ = std::make_unique<SessionWatcher>(
            [this](WorkspaceEvent reported) { deliver(reported); }, std::move(watching_));
    }
    std::weak_ptr<Observers> weak = observers_;
    return Subscription([weak, id] {
        if (auto observers = weak.lock()) {
            std::lock_guard lock(observers->mutex);
            observers->entries.erase(id);
        }
    });
}

// On the watcher's thread, which ends before this object does.
void SessionNotifier::deliver(WorkspaceEvent event) {
    auto queue = mainQueue_ ? mainQueue_() : nullptr;
    if (!queue) {
        return;
    }
    std::weak_ptr<Observers> weak = observers_;
    queue->post([weak, event] {
        auto observers = weak.lock();
        if (!observers) {
            return;
        }
        std::vector<std::uint64_t> ids;
        {
            std::lock_guard lock(observers->mutex);
            for (const auto& [id, entry] : observers->entries) {
                if (entry.event == event) {
                    ids.push_back(id);
                }
            }
        }
        // Looked up one by one so that a handler ending another subscription is respected.
        for (auto id : ids) {
            std::function<void()> handler;
            {
                std::lock_guard lock(observers->mutex);
                auto it = observers->entries.find(id);
                if (it == observers->entries.end()) {
                    continue;
                }
                handler = it->second.handler;
            }
            handler();
        }
    });
}

} // namespace orvane::linuxbackend
