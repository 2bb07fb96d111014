#pragma once

#include "orvane/platform/Subscription.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace orvane {

// A value others watch. Every assignment notifies every subscriber, even when the value is
// unchanged (views re-render from it); `subscribe` delivers the current value once at once.
// Main thread only.
template <typename T> class Published {
public:
    using Handler = std::function<void(const T&)>;

    Published() : observers_(std::make_shared<Observers>()) {}
    explicit Published(T initial)
        : value_(std::move(initial)), observers_(std::make_shared<Observers>()) {}
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    const T& get() const { return value_; }
    operator const T&() const { return value_; }

    Published& operator=(T value) {
        value_ = std::move(value);
        // A copy: a handler may subscribe or unsubscribe while being notified.
        const auto handlers = observers_->handlers;
        for (const auto& [id, handler] : handlers) {
            if (observers_->handlers.contains(id)) {
                handler(value_);
            }
        }
        return *this;
    }

    [[nodiscard]] Subscription subscribe(Handler handler) {
        const std::uint64_t id = observers_->nextID++;
        observers_->handlers.emplace(id, handler);
        std::weak_ptr<Observers> weak = observers_;
        handler(value_);
        return Subscription([weak, id] {
            if (auto observers = weak.lock()) {
                observers->handlers.erase(id);
            }
        });
    }

private:
    struct Observers {
        std::uint64_t nextID = 0;
        std::map<std::uint64_t, Handler> handlers;
    };

    T value_{};
    std::shared_ptr<Observers> observers_;
};

} // namespace orvane
