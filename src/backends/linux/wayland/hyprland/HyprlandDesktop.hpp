#pragma once

#include "backends/linux/SessionChoice.hpp"
#include "backends/linux/wayland/CompositorServices.hpp"
#include "backends/linux/wayland/client/WaylandClientServices.hpp"
#include "orvane/platform/Platform.hpp"

#include <chrono>
#include <memory>
#include <string>

namespace orvane::linuxbackend {

class AtspiFocusWatch;
class CompositorSecureInput;
class HyprlandDesktopBridge;
class HyprlandHotKeys;
class HyprlandLink;

// The services of Hyprland on Wayland, through its IPC sockets and Orvane's own Wayland
// connection. A Hyprland that does not answer still gives a desktop: its bridge says so, and
// every service answers "nothing" until Hyprland is there.
class HyprlandDesktop {
public:
    struct Options {
        std::shared_ptr<MainQueue> mainQueue; // null: the installed platform's at each event
        EnvironmentLookup environment;        // null: the process's
        // Null: one over the desktop's own accessibility service.
        std::shared_ptr<AtspiFocusWatch> focusWatch;
        std::shared_ptr<Clock> clock; // null: the installed platform's
    };

    static std::shared_ptr<HyprlandDesktop> open(Options options);

    // Waits until Hyprland and Orvane's Wayland connection have been looked at once, for
    // command-line modes that answer at once.
    void waitUntilSettled(std::chrono::milliseconds timeout) const;

    // Sets the desktop services, the input monitor, the hot keys, the bridge and the gaze dot
    // in `platform`; leaves every other member as it is.
    void fill(Platform& platform) const;

    const std::shared_ptr<HyprlandLink>& link() const { return link_; }

private:
    HyprlandDesktop() = default;

    std::shared_ptr<HyprlandLink> link_;
    CompositorServices services_;
    std::shared_ptr<CompositorSecureInput> secureInput_;
    std::shared_ptr<HyprlandHotKeys> hotKeys_;
    WaylandClientServices client_;
    std::shared_ptr<HyprlandDesktopBridge> bridge_;
};

// Fills `platform` with the Hyprland services (its mainQueue, if set, delivers their events).
// False with the reason in `error` only when there is no way to find Hyprland's sockets.
bool installHyprlandDesktop(Platform& platform, std::string* error);

} // namespace orvane::linuxbackend
