#pragma once

#include "backends/linux/wayland/CompositorLink.hpp"
#include "orvane/platform/MainQueue.hpp"

#include <chrono>
#include <memory>
#include <string>

namespace orvane::linuxbackend {

class WaylandClient;

// A compositor without an IPC of its own (labwc, Wayfire) as a compositor link, over Orvane's
// own Wayland connection: the windows from the wlroots foreign-toplevel manager, the monitors
// from the outputs' logical layout (xdg-output). Those protocols tell which output a window
// is on and whether it is activated, nothing of where it lies, of its process, of the pointer
// or of keys: each window fills its output, and on each output the last activated is in
// front. A compositor that offers only the ext toplevel list has its windows listed on no
// output and none activated: Orvane cannot move focus there. The worker thread keeps the
// state, so that asking costs a lock and a copy.
class WlrootsLink : public CompositorLink {
public:
    static constexpr std::chrono::milliseconds activationTimeout{1000};
    static constexpr const char* managerInterface = "zwlr_foreign_toplevel_manager_v1";
    static constexpr const char* listInterface = "ext_foreign_toplevel_list_v1";

    // `mainQueue` delivers the listeners' calls; when null, the installed platform's at each
    // event. `ignoreManager` reads the ext list even where wlroots' manager is offered: tests
    // use it to reach that path on a compositor that offers both.
    WlrootsLink(std::shared_ptr<WaylandClient> client, std::shared_ptr<MainQueue> mainQueue,
                bool ignoreManager = false);
    ~WlrootsLink() override;
    WlrootsLink(const WlrootsLink&) = delete;
    WlrootsLink& operator=(const WlrootsLink&) = delete;

    CompositorSnapshot snapshot() const override;
    Subscription listen(std::function<void(const CompositorEvent&)> listener) override;
    // Asks the compositor to activate the window for our seat, then waits for the window to
    // say it is activated (or was already, once the compositor has read the request).
    std::optional<std::uint64_t> activateWindow(std::uint64_t id) override;
    bool warpPointer(int, int) override { return false; }
    std::optional<plinth::Point> queryPointer() override { return std::nullopt; }
    bool postKey(std::uint32_t, bool) override { return false; }
    bool watchInput(unsigned) override { return false; }
    bool waitUntilSettled(std::chrono::milliseconds timeout) const override;

    // Why the link is not ready ("the compositor offers no toplevel list"), empty when it is.
    std::string problem() const;
    // Whether the windows come from the ext list alone, which lists them and lets Orvane focus
    // none.
    bool listsOnly() const;

    class Part;

private:
    std::shared_ptr<WaylandClient> client_;
    std::shared_ptr<Part> part_;
};

} // namespace orvane::linuxbackend
