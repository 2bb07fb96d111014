#pragma once

#include "backends/linux/wayland/CompositorLinkState.hpp"
#include "backends/linux/wayland/kwin/KWinScriptMessages.hpp"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace orvane::linuxbackend {

// What KWinLink's callers and its worker's parts share: the state the script pushes, the
// commands waiting for it and their answers, under one lock.
struct KWinLinkState : CompositorLinkState {
    using CompositorLinkState::CompositorLinkState;

    bool isReady() const { return current().ready; }
    void setProblem(std::string text) {
        std::lock_guard lock(mutex);
        problem = std::move(text);
    }

    // Guarded by mutex:
    bool scriptLoaded = false;
    std::string problem;
    std::string pluginName;
    std::string scriptFile;
    KWinWindowIds ids;
    std::deque<std::string> commands;
    std::map<std::uint64_t, KWinScriptDone> done;
    std::uint64_t nextSerial = 1;
    unsigned inputInterval = 0;
};

} // namespace orvane::linuxbackend
