#include "backends/linux/wayland/sway/SwayDesktop.hpp"

#include "backends/linux/wayland/CompositorSecureInput.hpp"
#include "backends/linux/wayland/client/WaylandClient.hpp"
#include "backends/linux/wayland/sway/SwayDesktopBridge.hpp"
#include "backends/linux/wayland/sway/SwayHotKeys.hpp"
#include "backends/linux/wayland/sway/SwayLink.hpp"

#if ORVANE_WITH_EVDEV
#include "backends/linux/evdev/EvdevInputOption.hpp"
#endif

#include <cstdlib>

namespace orvane::linuxbackend {

std::shared_ptr<SwayDesktop> SwayDesktop::open(Options options) {
    if (!options.environment) {
        options.environment = [](const char* name) {
            return std::getenv(name);
        };
    }
    std::shared_ptr<SwayDesktop> desktop(new SwayDesktop());
    auto link = std::make_shared<SwayLink>(options.mainQueue, options.environment);
    desktop->link_ = link;
    desktop->services_ =
        CompositorServices::open(link, options.mainQueue, std::move(options.focusWatch));
    desktop->secureInput_ =
        std::make_shared<CompositorSecureInput>(link, desktop->services_.focusWatch);
    desktop->hotKeys_ = std::make_shared<SwayHotKeys>(link);
    // sway's IPC tells nothing of input: the idle timer tells that there was some.
    desktop->client_ = WaylandClientServices::open(link, desktop->services_.posted,
                                                   options.mainQueue, options.clock, false);
    desktop->bridge_ = std::make_shared<SwayDesktopBridge>(link);
    return desktop;
}

void SwayDesktop::fill(Platform& platform) const {
    services_.fill(platform);
    platform.secureInput = secureInput_;
    platform.hotKeys = hotKeys_;
    client_.fill(platform);
    platform.desktopBridge = bridge_;
    platform.exposure.push_back(
        "sway's IPC socket is sway's own and open to every program of yours; Orvane adds the pause "
        "chord's key binding while it runs, and nothing else");
}

void SwayDesktop::waitUntilSettled(std::chrono::milliseconds timeout) const {
    link_->waitUntilSettled(timeout);
    client_.client->waitUntilSettled(timeout);
}

bool installSwayDesktop(Platform& platform, std::string* error) {
    if (!std::getenv("SWAYSOCK") && !std::getenv("XDG_RUNTIME_DIR")) {
        if (error) {
            *error = "SWAYSOCK is not set: sway's IPC socket cannot be found";
        }
        // Without the compositor's link, the devices are all that tell of typing.
#if ORVANE_WITH_EVDEV
        offerInputDevices(platform, nullptr);
#endif
        return false;
    }
    auto desktop = SwayDesktop::open({platform.mainQueue, {}, nullptr, platform.clock});
    // sway answers in milliseconds; what is asked first (the monitors, by --diagnose or the
    // first pose) should find its answer there.
    desktop->waitUntilSettled(std::chrono::seconds(3));
    desktop->fill(platform);
#if ORVANE_WITH_EVDEV
    offerInputDevices(platform, keysGoToOwnWindow(desktop->link()));
#endif
    return true;
}

} // namespace orvane::linuxbackend
