#include "backends/linux/wayland/sway/SwayDesktop.hpp"

#include "backends/linux/wayland/sway/SwayDesktopBridge.hpp"
#include "backends/linux/wayland/sway/SwayHotKeys.hpp"
#include "backends/linux/wayland/sway/SwayInputMonitor.hpp"
#include "backends/linux/wayland/sway/SwayLink.hpp"
#include "backends/linux/wayland/sway/SwaySecureInput.hpp"

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
    desktop->secureInput_ = std::make_shared<SwaySecureInput>(link, desktop->services_.focusWatch);
    desktop->hotKeys_ = std::make_shared<SwayHotKeys>(link);
    desktop->inputMonitor_ = std::make_shared<SwayInputMonitor>();
    desktop->bridge_ = std::make_shared<SwayDesktopBridge>(link);
    return desktop;
}

void SwayDesktop::fill(Platform& platform) const {
    services_.fill(platform);
    platform.secureInput = secureInput_;
    platform.hotKeys = hotKeys_;
    platform.inputMonitor = inputMonitor_;
    platform.desktopBridge = bridge_;
}

bool installSwayDesktop(Platform& platform, std::string* error) {
    if (!std::getenv("SWAYSOCK") && !std::getenv("XDG_RUNTIME_DIR")) {
        if (error) {
            *error = "SWAYSOCK is not set: sway's IPC socket cannot be found";
        }
        return false;
    }
    auto desktop = SwayDesktop::open({platform.mainQueue, {}, nullptr});
    // sway answers in milliseconds; what is asked first (the monitors, by --diagnose or the
    // first pose) should find its answer there.
    desktop->link()->waitUntilSettled(std::chrono::seconds(3));
    desktop->fill(platform);
    return true;
}

} // namespace orvane::linuxbackend
