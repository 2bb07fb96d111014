#pragma once

#include "backends/linux/wayland/CompositorLink.hpp"
#include "backends/linux/wayland/ListenerSet.hpp"
#include "backends/linux/wayland/kwin/KWinScriptMessages.hpp"
#include "orvane/platform/MainQueue.hpp"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace orvane::linuxbackend {

// What KWinLink's callers and its worker's parts share: the state the script pushes, the
// commands waiting for it and their answers, under one lock.
struct KWinLinkState {
    explicit KWinLinkState(std::shared_ptr<MainQueue> queue) : mainQueue(std::move(queue)) {}

    // Any thread: a copy of the snapshot.
    CompositorSnapshot current() const {
        std::lock_guard lock(mutex);
        return snapshot;
    }
    bool isReady() const { return current().ready; }
    // Tells the listeners on the main queue.
    void post(CompositorEvent event) const;
    void markSettled();
    void setProblem(std::string text) {
        std::lock_guard lock(mutex);
        problem = std::move(text);
    }

    const std::shared_ptr<MainQueue> mainQueue; // null: the installed platform's
    ListenerSet<CompositorEvent> listeners;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    // Guarded by mutex:
    bool settled = false;
    bool scriptLoaded = false;
    std::string problem;
    std::string pluginName;
    std::string scriptFile;
    CompositorSnapshot snapshot;
    KWinWindowIds ids;
    std::deque<std::string> commands;
    std::map<std::uint64_t, KWinScriptDone> done;
    std::uint64_t nextSerial = 1;
    unsigned inputInterval = 0;
};

} // namespace orvane::linuxbackend
