#pragma once

#include "backends/linux/BackendLog.hpp"
#include "backends/linux/SessionChoice.hpp"
#include "backends/linux/wayland/CompositorLink.hpp"
#include "backends/linux/wayland/CompositorLinkState.hpp"
#include "backends/linux/wayland/hyprland/HyprlandJson.hpp"
#include "backends/linux/wayland/hyprland/HyprlandToplevels.hpp"
#include "orvane/platform/MainQueue.hpp"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace orvane::linuxbackend {

// Hyprland as a compositor link, through its sockets: a worker thread follows the event
// socket and, after each burst of events that touch windows or monitors, reads the clients,
// the monitors and the focused window again, so that asking costs a lock and a copy. A window
// dragged or resized with the pointer sends no event: without events, they are read again every
// `quietRefresh`. When the event socket closes (Hyprland gone) the link says `vanished` and
// connects again once a trusted socket answers. Every request is bounded by `replyTimeout`.
class HyprlandLink : public CompositorLink {
public:
    static constexpr std::chrono::milliseconds replyTimeout{1000};
    static constexpr std::chrono::milliseconds reconnectInterval{500};
    static constexpr std::chrono::milliseconds quietRefresh{2000};
    // How long an activation waits for the focus to move once Hyprland took the dispatch.
    static constexpr std::chrono::milliseconds activationWait{300};

    // `mainQueue` delivers the listeners' calls; when null, the installed platform's at each
    // event. `environment` gives HYPRLAND_INSTANCE_SIGNATURE and XDG_RUNTIME_DIR. Windows are
    // activated through `toplevels` where it can, else by dispatch.
    HyprlandLink(std::shared_ptr<MainQueue> mainQueue, EnvironmentLookup environment,
                 std::shared_ptr<HyprlandToplevelSource> toplevels = nullptr);
    ~HyprlandLink() override;
    HyprlandLink(const HyprlandLink&) = delete;
    HyprlandLink& operator=(const HyprlandLink&) = delete;

    CompositorSnapshot snapshot() const override { return state_.current(); }
    Subscription listen(std::function<void(const CompositorEvent&)> listener) override {
        return state_.listeners.add(std::move(listener));
    }
    // Through the window's foreign toplevel, else by a focus dispatch; confirmed by the focus
    // Hyprland then reports.
    std::optional<std::uint64_t> activateWindow(std::uint64_t id) override;
    bool warpPointer(int x, int y) override;
    std::optional<plinth::Point> queryPointer() override;
    bool postKey(std::uint32_t keysym, bool press) override;
    bool watchInput(unsigned milliseconds) override;
    bool waitUntilSettled(std::chrono::milliseconds timeout) const override {
        return state_.waitUntilSettled(timeout);
    }

    // Any thread: one request ("j/binds") to the instance followed; nullopt when it does not
    // answer.
    std::optional<std::string> ask(const std::string& request);

private:
    void run();
    bool attach(const std::string& folder);
    bool refresh(bool monitors);
    // Sends the focus dispatch in the form Hyprland takes; false when it took neither.
    bool dispatchFocus(std::uint64_t id);
    // Logs the route an activation took, the first time it takes it.
    void sayRoute(HyprlandToplevelSource::Outcome outcome);
    // Logs a reply of Hyprland's dropped for `problem`, the first few times only.
    void dropped(const std::string& what, const std::string& problem) {
        dropped_.say("dropped Hyprland's " + what + ": " + problem);
    }

    CompositorLinkState state_;
    EnvironmentLookup environment_;
    std::vector<HyprlandJson::Monitor> monitors_; // guarded by state_.mutex
    std::string folder_;                          // guarded by state_.mutex: the instance followed
    LimitedLog dropped_;
    std::shared_ptr<HyprlandToplevelSource> toplevels_;
    std::atomic<bool> luaDispatch_{false}; // the last focus dispatch taken was Lua
    std::atomic<unsigned> routesSaid_{0};  // a bit per outcome already logged
    int wakeFd_ = -1;
    std::thread thread_; // last: ends before the rest goes
};

} // namespace orvane::linuxbackend
