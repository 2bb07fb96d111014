#pragma once

#include "backends/linux/SessionChoice.hpp"
#include "backends/linux/wayland/CompositorServices.hpp"
#include "backends/linux/wayland/client/WaylandClientServices.hpp"
#include "orvane/platform/Platform.hpp"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace orvane::linuxbackend {

class CompositorSecureInput;

// A Wayland desktop as every compositor family builds it: the services over the family's link
// (displays, windows, activation, accessibility placed by its frames, secure input), Orvane's
// own Wayland connection (activity, the gaze dot), and the family's hot keys and bridge. A
// compositor that does not answer still gives a desktop: its bridge says so, and every service
// answers "nothing" until it is there.
class CompositorDesktop {
public:
    struct Options {
        std::shared_ptr<MainQueue> mainQueue; // null: the installed platform's at each event
        EnvironmentLookup environment;        // the process's when installed
        std::shared_ptr<Clock> clock;         // null: the installed platform's
    };

    // What a family brings.
    struct Family {
        std::shared_ptr<CompositorLink> link;
        std::shared_ptr<HotKeys> hotKeys;
        std::shared_ptr<DesktopBridge> bridge;
        bool pointerFromLink = false;          // else pointer use counts as typing
        std::shared_ptr<WaylandClient> client; // the link's own connection; null: one made here
        std::string exposure;                  // what Orvane adds to this desktop, said once
        // Said with the reduced guards, asked each time; null or empty: nothing.
        std::function<std::string()> limit;
    };

    static std::shared_ptr<CompositorDesktop> open(Family family, const Options& options);

    // Waits until the compositor and Orvane's Wayland connection have been looked at once, for
    // command-line modes that answer at once.
    void waitUntilSettled(std::chrono::milliseconds timeout) const;

    // Sets the desktop services, the input monitor, the hot keys, the bridge and the gaze dot
    // in `platform`; leaves every other member as it is.
    void fill(Platform& platform) const;

    const std::shared_ptr<CompositorLink>& link() const { return family_.link; }

private:
    CompositorDesktop() = default;

    Family family_;
    CompositorServices services_;
    std::shared_ptr<CompositorSecureInput> secureInput_;
    WaylandClientServices client_;
};

// Fills `platform` with the desktop `open` makes (its mainQueue, if set, delivers their
// events), once the compositor has answered or `settle` has passed: what is asked first (the
// monitors, by --diagnose or the first pose) should find its answer there. When the compositor
// cannot be reached at all (`unreachable` says why), false with that in `error`, and the input
// devices are all that tell of typing.
bool installCompositorDesktop(
    Platform& platform, std::string* error, const std::string& unreachable,
    const std::function<std::shared_ptr<CompositorDesktop>(const CompositorDesktop::Options&)>&
        open,
    std::chrono::milliseconds settle);

} // namespace orvane::linuxbackend
