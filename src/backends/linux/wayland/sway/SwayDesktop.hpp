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
class SwayDesktopBridge;
class SwayHotKeys;
class SwayLink;
class CompositorSecureInput;

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
        std::shared_ptr<Clock> clock; // null: the installed platform's
    };

    static std::shared_ptr<SwayDesktop> open(Options options);

    // Waits until sway and Orvane's Wayland connection have been looked at once, for
    // command-line modes that answer at once.
    void waitUntilSettled(std::chrono::milliseconds timeout) const;

    // Sets the desktop services, the input monitor, the hot keys, the bridge and the gaze dot
    // in `platform`; leaves every other member as it is.
    void fill(Platform& platform) const;

    const std::shared_ptr<SwayLink>& link() const { return link_; }

private:
    SwayDesktop() = default;

    std::shared_ptr<SwayLink> link_;
    CompositorServices services_;
    std::shared_ptr<CompositorSecureInput> secureInput_;
    std::shared_ptr<SwayHotKeys> hotKeys_;
    WaylandClientServices client_;
    std::shared_ptr<SwayDesktopBridge> bridge_;
};

// Fills `platform` with the sway services (its mainQueue, if set, delivers their events).
// False with the reason in `error` only when there is no way to find sway's socket.
bool installSwayDesktop(Platform& platform, std::string* error);

} // namespace orvane::linuxbackend
