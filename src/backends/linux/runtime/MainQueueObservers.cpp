#include "backends/linux/runtime/MainQueueObservers.hpp"

#include "orvane/platform/Platform.hpp"

#include <utility>
#include <vector>

namespace orvane::linuxbackend {

struct MainQueueObservers::Entries {
    struct Entry {
        int topic = 0;
        std::function<void()> handler;
    };
    std::mutex mutex;
    std::map<std::uint64_t, Entry> entries;
    std::uint64_t next = 1;
};

std::function<std::shared_ptr<MainQueue>()>
fixedOrInstalledQueue(std::shared_ptr<MainQueue> fixed) {
    std::weak_ptr<MainQueue> queue = fixed;
    const bool given = fixed != nullptr;
    return [queue, given]() -> std::shared_ptr<MainQueue> {
        if (given) {
            return queue.lock();
        }
        return hasPlatform() ? platform().mainQueue : nullptr;
    };
}

MainQueueObservers::MainQueueObservers(std::function<std::shared_ptr<MainQueue>()> mainQueue)
    : mainQueue_(std::move(mainQueue)), entries_(std::make_shared<Entries>()) {}

Subscription MainQueueObservers::add(int topic, std::function<void()> handler) {
    std::uint64_t id = 0;
    {
        std::lock_guard lock(entries_->mutex);
        id = entries_->next++;
        entries_->entries.emplace(id, Entries::Entry{topic, std::move(handler)});
    }
    std::weak_ptr<Entries> weak = entries_;
    return Subscription([weak, id] {
        if (auto entries = weak.lock()) {
            std::lock_guard lock(entries->mutex);
            entries->entries.erase(id);
        }
    });
}

void MainQueueObservers::notify(int topic) {
    auto queue = mainQueue_ ? mainQueue_() : nullptr;
    if (!queue) {
        return;
    }
    std::weak_ptr<Entries> weak = entries_;
    queue->post([weak, topic] {
        auto entries = weak.lock();
        if (!entries) {
            return;
        }
        std::vector<std::uint64_t> ids;
        {
            std::lock_guard lock(entries->mutex);
            for (const auto& [id, entry] : entries->entries) {
                if (entry.topic == topic) {
                    ids.push_back(id);
                }
            }
        }
        // Looked up one by one so that a handler ending another subscription is respected.
        for (auto id : ids) {
            std::function<void()> handler;
            {
                std::lock_guard lock(entries->mutex);
                auto it = entries->entries.find(id);
                if (it == entries->entries.end()) {
                    continue;
                }
                handler = it->second.handler;
            }
            handler();
        }
    });
}

} // namespace orvane::linuxbackend
