#pragma once

#include "orvane/platform/MainQueue.hpp"
#include "orvane/platform/Subscription.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace orvane::linuxbackend {

// Observers of events that a backend thread sees and the main thread handles. Handlers are kept
// by topic; `notify` may be called from any thread and calls the topic's handlers on the main
// queue, never one whose subscription has ended by then.
// The queue to deliver on: `fixed` while it lives, where one was given; else the installed
// platform's, asked at each delivery.
std::function<std::shared_ptr<MainQueue>()> fixedOrInstalledQueue(std::shared_ptr<MainQueue> fixed);

class MainQueueObservers {
public:
    explicit MainQueueObservers(std::function<std::shared_ptr<MainQueue>()> mainQueue);

    Subscription add(int topic, std::function<void()> handler);
    void notify(int topic);

private:
    struct Entries;

    std::function<std::shared_ptr<MainQueue>()> mainQueue_;
    // Shared with the subscriptions and posted tasks, which may outlive the observers.
    std::shared_ptr<Entries> entries_;
};

} // namespace orvane::linuxbackend
