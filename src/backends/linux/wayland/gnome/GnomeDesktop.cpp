#include "backends/linux/wayland/gnome/GnomeDesktop.hpp"

#include "backends/linux/wayland/CompositorSecureInput.hpp"
#include "backends/linux/wayland/gnome/BridgeConnection.hpp"
#include "backends/linux/wayland/gnome/GnomeHotKeys.hpp"
#include "backends/linux/wayland/gnome/GnomeShellExtension.hpp"
#include "backends/linux/wayland/gnome/GnomeShellSurfaces.hpp"
#include "backends/linux/wayland/gnome/SampledInputMonitor.hpp"

#include <cstdlib>

namespace orvane::linuxbackend {

std::shared_ptr<GnomeDesktop> GnomeDesktop::open(Options options) {
    if (!options.environment) {
        options.environment = [](const char* name) {
            return std::getenv(name);
        };
    }
    std::shared_ptr<GnomeDesktop> desktop(new GnomeDesktop());
    auto bridge = std::make_shared<BridgeConnection>(options.mainQueue);
    desktop->bridge_ = bridge;
    desktop->services_ =
        CompositorServices::open(bridge, options.mainQueue, std::move(options.focusWatch));
    desktop->inputMonitor_ =
        std::make_shared<SampledInputMonitor>(bridge, desktop->services_.posted);
    desktop->secureInput_ =
        std::make_shared<CompositorSecureInput>(bridge, desktop->services_.focusWatch);
    desktop->hotKeys_ = std::make_shared<GnomeHotKeys>(bridge);
    desktop->extension_ = std::make_shared<GnomeShellExtension>(bridge, options.environment);
    desktop->gazeDot_ = std::make_shared<GnomeGazeDot>(bridge);
    desktop->indicator_ = std::make_shared<GnomeIndicator>(bridge);
    return desktop;
}

void GnomeDesktop::fill(Platform& platform) const {
    services_.fill(platform);
    platform.inputMonitor = inputMonitor_;
    platform.secureInput = secureInput_;
    platform.hotKeys = hotKeys_;
    platform.desktopBridge = extension_;
    platform.gazeDot = gazeDot_;
    platform.statusIndicator = indicator_;
    platform.exposure.push_back(
        "Orvane's GNOME Shell extension (net.orvane.Bridge): the shell answers only the installed "
        "Orvane, run outside any sandbox and calling that name, and tells only it what it sees; "
        "every other program, sandboxed or not, is refused");
}

bool installGnomeDesktop(Platform& platform, std::string* error) {
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS") && !std::getenv("XDG_RUNTIME_DIR")) {
        if (error) {
            *error = "there is no session bus to reach GNOME Shell by";
        }
        return false;
    }
    auto desktop = GnomeDesktop::open({platform.mainQueue, {}, nullptr});
    // The shell answers in milliseconds; what is asked first (the monitors, by --diagnose or
    // the first pose) should find its answer there.
    desktop->bridge()->waitUntilSettled(std::chrono::seconds(3));
    desktop->fill(platform);
    return true;
}

} // namespace orvane::linuxbackend
