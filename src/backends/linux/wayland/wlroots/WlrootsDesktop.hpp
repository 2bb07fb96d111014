#pragma once

#include "backends/linux/SessionChoice.hpp"
#include "backends/linux/wayland/CompositorServices.hpp"
#include "backends/linux/wayland/client/WaylandClientServices.hpp"
#include "orvane/platform/Platform.hpp"

#include <chrono>
#include <memory>

namespace orvane::linuxbackend {

class AtspiFocusWatch;
class CompositorSecureInput;
class WlrootsDesktopBridge;
class WlrootsHotKeys;
class WlrootsLink;

// The services of a compositor without an IPC of its own (labwc, Wayfire), all over Orvane's
// own Wayland connection. A compositor that lists no windows still gives a desktop: its
// bridge says so, and every service answers "nothing".
class WlrootsDesktop {
public:
    struct Options {
        std::shared_ptr<MainQueue> mainQueue; // null: the installed platform's at each event
        EnvironmentLookup environment;        // null: the process's
        // Null: one over the desktop's own accessibility service.
        std::shared_ptr<AtspiFocusWatch> focusWatch;
        std::shared_ptr<Clock> clock; // null: the installed platform's
    };

    static std::shared_ptr<WlrootsDesktop> open(Options options);

    // Waits until the compositor has been looked at once, for command-line modes that answer
    // at once.
    void waitUntilSettled(std::chrono::milliseconds timeout) const;

    // Sets the desktop services, the input monitor, the hot keys, the bridge and the gaze dot
    // in `platform`; leaves every other member as it is.
    void fill(Platform& platform) const;

    const std::shared_ptr<WlrootsLink>& link() const { return link_; }

    // What these protocols leave out, said with the reduced guards.
    static constexpr const char* placementLimit =
        "Windows are known only by the output they are on: the window Orvane focuses on an "
        "output is the one last focused there, and panes are not followed.";

private:
    WlrootsDesktop() = default;

    std::shared_ptr<WlrootsLink> link_;
    CompositorServices services_;
    std::shared_ptr<CompositorSecureInput> secureInput_;
    std::shared_ptr<WlrootsHotKeys> hotKeys_;
    WaylandClientServices client_;
    std::shared_ptr<WlrootsDesktopBridge> bridge_;
};

// Fills `platform` with the services of a compositor speaking the wlroots protocols (its
// mainQueue, if set, delivers their events). False with the reason in `error` only when there
// is no Wayland display to connect to.
bool installWlrootsDesktop(Platform& platform, std::string* error);

} // namespace orvane::linuxbackend
