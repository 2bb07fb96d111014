#pragma once

#include "orvane/platform/MainQueue.hpp"
#include "orvane/platform/Subscription.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace orvane::linuxbackend {

// The listeners of a worker's events, called on the main queue. Any thread may post; a
// listener whose subscription ended, or a set that is gone, is not called.
template <typename Event> class ListenerSet {
public:
    using Listener = std::function<void(const Event&)>;

    Subscription add(Listener listener) {
        std::uint64_t id = 0;
        {
            std::lock_guard lock(state_->mutex);
            id = state_->next++;
            state_->byId.emplace(id, std::move(listener));
        }
        return Subscription([weak = std::weak_ptr<State>(state_), id] {
            if (auto state = weak.lock()) {
                std::lock_guard lock(state->mutex);
                state->byId.erase(id);
            }
        });
    }

    void post(const std::shared_ptr<MainQueue>& queue, Event event) const {
        if (!queue) {
            return;
        }
        queue->post([weak = std::weak_ptr<State>(state_), event = std::move(event)] {
            auto state = weak.lock();
            if (!state) {
                return;
            }
            std::vector<std::uint64_t> ids;
            {
                std::lock_guard lock(state->mutex);
                for (const auto& entry : state->byId) {
                    ids.push_back(entry.first);
                }
            }
            // One by one, so that a listener ending another's subscription is respected.
            for (auto id : ids) {
                Listener listener;
                {
                    std::lock_guard lock(state->mutex);
                    if (auto found = state->byId.find(id); found != state->byId.end()) {
                        listener = found->second;
                    }
                }
                if (listener) {
                    listener(event);
                }
            }
        });
    }

    // Ends every subscription: nothing posted is told any more.
    void clear() {
        std::lock_guard lock(state_->mutex);
        state_->byId.clear();
    }

private:
    struct State {
        std::mutex mutex;
        std::map<std::uint64_t, Listener> byId;
        std::uint64_t next = 1;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

} // namespace orvane::linuxbackend
