#pragma once

#include "backends/linux/atspi/AtspiWindowSystem.hpp"

#include <functional>

namespace orvane::linuxbackend {

// A compositor's windows, as its bridge reports them, for the accessibility service. Clients
// of a Wayland compositor cannot place themselves, so AT-SPI screen coordinates mean nothing
// there: extents are read relative to the window and placed by these frames. Main thread.
class BridgeWindowFrames : public AtspiWindowSystem {
public:
    struct Window {
        std::uint64_t id = 0;
        std::string title;
        plinth::Rect frame;  // the visible window, global space
        plinth::Rect buffer; // what the client draws, shadows of its own decorations included
    };
    struct Hooks {
        // The windows of a pid, front to back; null when the bridge cannot be asked.
        std::function<std::optional<std::vector<Window>>(pid_t)> windows;
        // Optional: the window activating the pid brings forward next; activating a window.
        std::function<void(pid_t, std::uint64_t)> remember;
        std::function<bool(std::uint64_t)> raise;
    };

    explicit BridgeWindowFrames(Hooks hooks) : hooks_(std::move(hooks)) {}

    std::optional<std::vector<AtspiTopLevel>> windowsOf(pid_t pid) override;
    bool screenCoordinatesUsable() const override { return false; }
    // Screen coordinates are never asked for here; the global space stands in for them.
    plinth::Point screenFromGlobal(plinth::Point global) override { return global; }
    plinth::Point globalFromScreen(plinth::Point screen) override { return screen; }
    void remember(pid_t pid, std::uint64_t window) override;
    bool raise(std::uint64_t window) override;

private:
    Hooks hooks_;
};

} // namespace orvane::linuxbackend
