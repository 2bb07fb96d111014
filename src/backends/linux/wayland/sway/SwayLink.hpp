#pragma once

#include "backends/linux/BackendLog.hpp"
#include "backends/linux/SessionChoice.hpp"
#include "backends/linux/wayland/CompositorLink.hpp"
#include "backends/linux/wayland/CompositorLinkState.hpp"
#include "orvane/platform/MainQueue.hpp"

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace orvane::linuxbackend {

class SwayIpc;

// sway (and the compositors that speak its IPC) as a compositor link: a worker thread with a
// connection of its own subscribed to window, output, workspace, binding and shutdown events
// reads the tree and the outputs again after each burst of them, so that asking costs a lock
// and a copy. When the socket closes (sway restarting or gone) the link says `vanished` and
// connects again once a socket answers. Commands go over a connection of the main thread's.
// Every wait for a reply is bounded by `replyTimeout`.
class SwayLink : public CompositorLink {
public:
    static constexpr std::chrono::milliseconds replyTimeout{1000};
    static constexpr std::chrono::milliseconds reconnectInterval{500};

    // `mainQueue` delivers the listeners' calls; when null, the installed platform's at each
    // event. `environment` gives SWAYSOCK and, for a sway restarted elsewhere,
    // XDG_RUNTIME_DIR.
    SwayLink(std::shared_ptr<MainQueue> mainQueue, EnvironmentLookup environment);
    ~SwayLink() override;
    SwayLink(const SwayLink&) = delete;
    SwayLink& operator=(const SwayLink&) = delete;

    CompositorSnapshot snapshot() const override { return state_.current(); }
    Subscription listen(std::function<void(const CompositorEvent&)> listener) override {
        return state_.listeners.add(std::move(listener));
    }
    std::optional<std::uint64_t> activateWindow(std::uint64_t id) override;
    bool warpPointer(int x, int y) override;
    std::optional<plinth::Point> queryPointer() override;
    bool postKey(std::uint32_t keysym, bool press) override;
    bool watchInput(unsigned milliseconds) override;
    bool waitUntilSettled(std::chrono::milliseconds timeout) const override {
        return state_.waitUntilSettled(timeout);
    }

    // Main thread: runs sway commands; false with sway's words in `error` when one failed or
    // sway did not answer.
    bool runCommand(const std::string& command, std::string* error = nullptr);
    // Main thread: the configuration sway loaded, nullopt when it does not answer.
    std::optional<std::string> loadedConfig();

    // The sockets a sway may be answering on: SWAYSOCK, then those sway names by its own
    // pattern in the runtime folder (a restarted sway has a new one), newest first.
    static std::vector<std::string> socketCandidates(const EnvironmentLookup& environment);

private:
    void run();
    bool attach(SwayIpc& events, SwayIpc& queries);
    bool refresh(SwayIpc& queries, bool outputs);
    std::optional<std::string> ask(std::uint32_t type, const std::string& payload);
    // Logs a message of sway's dropped for `problem`, the first few times only.
    void dropped(const std::string& what, const std::string& problem) {
        dropped_.say("dropped sway's " + what + ": " + problem);
    }

    CompositorLinkState state_;
    EnvironmentLookup environment_;
    std::string seat_;                  // guarded by state_.mutex
    bool outputEvents_ = false;         // worker thread
    std::unique_ptr<SwayIpc> commands_; // main thread
    LimitedLog dropped_;
    int wakeFd_ = -1;
    std::thread thread_; // last: ends before the rest goes
};

} // namespace orvane::linuxbackend
