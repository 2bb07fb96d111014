#pragma once

#include "backends/linux/SessionChoice.hpp"
#include "backends/linux/wayland/CompositorServices.hpp"
#include "orvane/platform/Platform.hpp"

#include <memory>
#include <string>

namespace orvane::linuxbackend {

class AtspiFocusWatch;
class BridgeConnection;
class GnomeHotKeys;
class GnomeIndicator;
class SampledInputMonitor;
class GnomeGazeDot;
class CompositorSecureInput;
class GnomeShellExtension;

// The services of GNOME Shell on Wayland, all through Orvane's extension of the shell on the
// session bus. A shell whose extension is missing or off still gives a desktop: its bridge
// says what is wrong, and every service answers "nothing" until the extension is there.
class GnomeDesktop {
public:
    struct Options {
        std::shared_ptr<MainQueue> mainQueue; // null: the installed platform's at each event
        EnvironmentLookup environment;        // null: the process's
        // Null: one over the desktop's own accessibility service.
        std::shared_ptr<AtspiFocusWatch> focusWatch;
    };

    static std::shared_ptr<GnomeDesktop> open(Options options);

    // Sets the desktop services, the bridge, the dot and the status icon in `platform`; leaves
    // every other member as it is.
    void fill(Platform& platform) const;

    const std::shared_ptr<BridgeConnection>& bridge() const { return bridge_; }
    const std::shared_ptr<PostedKeys>& postedKeys() const { return services_.posted; }

private:
    GnomeDesktop() = default;

    std::shared_ptr<BridgeConnection> bridge_;
    CompositorServices services_;
    std::shared_ptr<SampledInputMonitor> inputMonitor_;
    std::shared_ptr<CompositorSecureInput> secureInput_;
    std::shared_ptr<GnomeHotKeys> hotKeys_;
    std::shared_ptr<GnomeShellExtension> extension_;
    std::shared_ptr<GnomeGazeDot> gazeDot_;
    std::shared_ptr<GnomeIndicator> indicator_;
};

// Fills `platform` with the GNOME services (its mainQueue, if set, delivers their events).
// False with the reason in `error` only when there is no session bus to reach the shell by.
bool installGnomeDesktop(Platform& platform, std::string* error);

} // namespace orvane::linuxbackend
