#include "backends/linux/wayland/wlroots/WlrootsDesktop.hpp"

#include "backends/linux/wayland/CompositorSecureInput.hpp"
#include "backends/linux/wayland/client/ActivityInputMonitor.hpp"
#include "backends/linux/wayland/client/WaylandClient.hpp"
#include "backends/linux/wayland/wlroots/WlrootsDesktopBridge.hpp"
#include "backends/linux/wayland/wlroots/WlrootsHotKeys.hpp"
#include "backends/linux/wayland/wlroots/WlrootsLink.hpp"

#if ORVANE_WITH_EVDEV
#include "backends/linux/evdev/EvdevInputOption.hpp"
#endif

#include <cstdlib>

namespace orvane::linuxbackend {

std::shared_ptr<WlrootsDesktop> WlrootsDesktop::open(Options options) {
    if (!options.environment) {
        options.environment = [](const char* name) {
            return std::getenv(name);
        };
    }
    if (!options.mainQueue && hasPlatform()) {
        options.mainQueue = platform().mainQueue;
    }
    std::shared_ptr<WlrootsDesktop> desktop(new WlrootsDesktop());
    // One connection for the windows, the idle timer and the dot.
    auto client = std::make_shared<WaylandClient>(options.mainQueue);
    auto link = std::make_shared<WlrootsLink>(client, options.mainQueue);
    desktop->link_ = link;
    desktop->services_ =
        CompositorServices::open(link, options.mainQueue, std::move(options.focusWatch));
    desktop->secureInput_ =
        std::make_shared<CompositorSecureInput>(link, desktop->services_.focusWatch);
    desktop->hotKeys_ = std::make_shared<WlrootsHotKeys>(options.environment);
    // Nothing of input but the idle timer, nor of the pointer.
    desktop->client_ = WaylandClientServices::open(link, desktop->services_.posted,
                                                   options.mainQueue, options.clock, false, client);
    desktop->client_.inputMonitor->addLimit(placementLimit);
    std::string name;
    if (const char* desktops = options.environment("XDG_CURRENT_DESKTOP")) {
        name = std::string(desktops).substr(0, std::string(desktops).find(':'));
    }
    desktop->bridge_ = std::make_shared<WlrootsDesktopBridge>(link, name.substr(0, 64));
    return desktop;
}

void WlrootsDesktop::fill(Platform& platform) const {
    services_.fill(platform);
    platform.secureInput = secureInput_;
    platform.hotKeys = hotKeys_;
    client_.fill(platform);
    platform.desktopBridge = bridge_;
    platform.exposure.push_back(
        "the compositor's list of windows is open to every program of yours; Orvane adds "
        "nothing to the compositor, and its pause toggle (orvane --toggle-pause) is a method "
        "of its own on your session bus");
}

void WlrootsDesktop::waitUntilSettled(std::chrono::milliseconds timeout) const {
    link_->waitUntilSettled(timeout);
}

bool installWlrootsDesktop(Platform& platform, std::string* error) {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    if ((!display || !*display) && !std::getenv("XDG_RUNTIME_DIR")) {
        if (error) {
            *error = "WAYLAND_DISPLAY is not set: the compositor cannot be reached";
        }
#if ORVANE_WITH_EVDEV
        offerInputDevices(platform, nullptr);
#endif
        return false;
    }
    auto desktop = WlrootsDesktop::open({platform.mainQueue, {}, nullptr, platform.clock});
    // What is asked first (the monitors, by --diagnose or the first pose) should find its
    // answer there.
    desktop->waitUntilSettled(std::chrono::seconds(3));
    desktop->fill(platform);
#if ORVANE_WITH_EVDEV
    offerInputDevices(platform, keysGoToOwnWindow(desktop->link()));
#endif
    return true;
}

} // namespace orvane::linuxbackend
