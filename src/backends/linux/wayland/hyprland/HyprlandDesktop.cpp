#include "backends/linux/wayland/hyprland/HyprlandDesktop.hpp"

#include "backends/linux/wayland/CompositorSecureInput.hpp"
#include "backends/linux/wayland/client/WaylandClient.hpp"
#include "backends/linux/wayland/hyprland/HyprlandDesktopBridge.hpp"
#include "backends/linux/wayland/hyprland/HyprlandHotKeys.hpp"
#include "backends/linux/wayland/hyprland/HyprlandLink.hpp"

#if ORVANE_WITH_EVDEV
#include "backends/linux/evdev/EvdevInputOption.hpp"
#endif

#include <cstdlib>

namespace orvane::linuxbackend {

std::shared_ptr<HyprlandDesktop> HyprlandDesktop::open(Options options) {
    if (!options.environment) {
        options.environment = [](const char* name) {
            return std::getenv(name);
        };
    }
    std::shared_ptr<HyprlandDesktop> desktop(new HyprlandDesktop());
    auto link = std::make_shared<HyprlandLink>(options.mainQueue, options.environment);
    desktop->link_ = link;
    desktop->services_ =
        CompositorServices::open(link, options.mainQueue, std::move(options.focusWatch));
    desktop->secureInput_ =
        std::make_shared<CompositorSecureInput>(link, desktop->services_.focusWatch);
    desktop->hotKeys_ = std::make_shared<HyprlandHotKeys>(link);
    // Hyprland tells where the pointer is only when asked, and nothing of keys: the idle timer
    // tells that there was input, and pointer use counts as typing.
    desktop->client_ = WaylandClientServices::open(link, desktop->services_.posted,
                                                   options.mainQueue, options.clock, false);
    desktop->bridge_ = std::make_shared<HyprlandDesktopBridge>(link);
    return desktop;
}

void HyprlandDesktop::fill(Platform& platform) const {
    services_.fill(platform);
    platform.secureInput = secureInput_;
    platform.hotKeys = hotKeys_;
    client_.fill(platform);
    platform.desktopBridge = bridge_;
    platform.exposure.push_back(
        "Hyprland's IPC sockets are Hyprland's own and open to every program of yours; Orvane "
        "adds nothing to Hyprland, and its pause toggle (orvane --toggle-pause) is a method of "
        "its own on your session bus");
}

void HyprlandDesktop::waitUntilSettled(std::chrono::milliseconds timeout) const {
    link_->waitUntilSettled(timeout);
    client_.client->waitUntilSettled(timeout);
}

bool installHyprlandDesktop(Platform& platform, std::string* error) {
    if (!std::getenv("HYPRLAND_INSTANCE_SIGNATURE")) {
        if (error) {
            *error = "HYPRLAND_INSTANCE_SIGNATURE is not set: Hyprland's sockets cannot be found";
        }
#if ORVANE_WITH_EVDEV
        // Without the compositor's link, the devices are all that tell of typing.
        offerInputDevices(platform, nullptr);
#endif
        return false;
    }
    auto desktop = HyprlandDesktop::open({platform.mainQueue, {}, nullptr, platform.clock});
    // Hyprland answers in milliseconds; what is asked first (the monitors, by --diagnose or
    // the first pose) should find its answer there.
    desktop->waitUntilSettled(std::chrono::seconds(3));
    desktop->fill(platform);
#if ORVANE_WITH_EVDEV
    offerInputDevices(platform, keysGoToOwnWindow(desktop->link()));
#endif
    return true;
}

} // namespace orvane::linuxbackend
