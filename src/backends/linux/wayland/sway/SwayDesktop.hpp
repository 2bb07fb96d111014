#pragma once

#include "backends/linux/wayland/CompositorServices.hpp"
#include "backends/linux/wayland/WaylandSession.hpp"
#include "orvane/platform/Platform.hpp"

#include <memory>
#include <string>

namespace orvane::linuxbackend {

class AtspiFocusWatch;
class SwayDesktopBridge;
class SwayHotKeys;
class SwayInputMonitor;
class SwayLink;
class SwaySecureInput;

// The services of sway (and compositors that speak its IPC) on Wayland, all through its IPC
// socket. A sway that does not answer still gives a desktop: its bridge says so, and every
// service answers "nothing" until sway is there.
class SwayDesktop {
public:
    struct Options {
        std::shared_ptr<MainQueue> mainQueue; // null: the installed platform's at each event
        EnvironmentLookup environment;        // null: the process's
        // Null: one over the desktop's own accessibility service.
        std::shared_ptr<AtspiFocusWatch> focusWatch;
    };

    static std::shared_ptr<SwayDesktop> open(Options options);

    // Sets the desktop services, the input monitor, the hot keys and the bridge in
    // `platform`; leaves every other member (the dot) as it is.
    void fill(Platform& platform) const;

    const std::shared_ptr<SwayLink>& link() const { return link_; }

private:
    SwayDesktop() = default;

    std::shared_ptr<SwayLink> link_;
    CompositorServices services_;
    std::shared_ptr<SwaySecureInput> secureInput_;
    std::shared_ptr<SwayHotKeys> hotKeys_;
    std::shared_ptr<SwayInputMonitor> inputMonitor_;
    std::shared_ptr<SwayDesktopBridge> bridge_;
};

// Fills `platform` with the sway services (its mainQueue, if set, delivers their events).
// False with the reason in `error` only when there is no way to find sway's socket.
bool installSwayDesktop(Platform& platform, std::string* error);

} // namespace orvane::linuxbackend
