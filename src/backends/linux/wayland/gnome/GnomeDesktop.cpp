#include "backends/linux/wayland/gnome/GnomeDesktop.hpp"

#include "backends/linux/wayland/BridgeConnection.hpp"
#include "backends/linux/wayland/gnome/GnomeDisplays.hpp"
#include "backends/linux/wayland/gnome/GnomeHotKeys.hpp"
#include "backends/linux/wayland/gnome/GnomeInputMonitor.hpp"
#include "backends/linux/wayland/gnome/GnomePostedKeys.hpp"
#include "backends/linux/wayland/gnome/GnomeSecureInput.hpp"
#include "backends/linux/wayland/gnome/GnomeShellExtension.hpp"
#include "backends/linux/wayland/gnome/GnomeShellSurfaces.hpp"
#include "backends/linux/wayland/gnome/GnomeWindowServer.hpp"
#include "backends/linux/wayland/gnome/GnomeWorkspace.hpp"
#include "backends/linux/x11/X11DesktopEntries.hpp"
#include "backends/linux/x11/X11Displays.hpp"
#include "backends/linux/x11/X11Identifiers.hpp"

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
    auto entries = std::make_shared<X11DesktopEntries>();
    desktop->bridge_ = bridge;
    // The keys the window server posts (pane shortcuts) are not the user's typing.
    desktop->posted_ = std::make_shared<GnomePostedKeys>();
    desktop->displays_ = std::make_shared<GnomeDisplays>(bridge);
    desktop->windowServer_ = std::make_shared<GnomeWindowServer>(bridge, entries, desktop->posted_);
    desktop->workspace_ = std::make_shared<GnomeWorkspace>(bridge, entries, options.mainQueue);
    desktop->inputMonitor_ = std::make_shared<GnomeInputMonitor>(bridge, desktop->posted_);
    desktop->secureInput_ = std::make_shared<GnomeSecureInput>(bridge, options.focusWatch);
    desktop->hotKeys_ = std::make_shared<GnomeHotKeys>(bridge);
    desktop->extension_ = std::make_shared<GnomeShellExtension>(bridge, options.environment);
    desktop->gazeDot_ = std::make_shared<GnomeGazeDot>(bridge);
    desktop->indicator_ = std::make_shared<GnomeIndicator>(bridge);
    return desktop;
}

std::optional<plinth::Rect> GnomeDesktop::windowFrame(pid_t pid, const std::string& title) const {
    const auto snapshot = bridge_->snapshot();
    const auto primary = GnomeDisplays::primaryStage(snapshot);
    if (!primary || !snapshot.windows) {
        return std::nullopt;
    }
    for (const auto& window : *snapshot.windows) {
        if (window.pid == static_cast<std::uint32_t>(pid) && window.title == title) {
            const auto origin =
                X11Displays::globalFromRoot({window.frame.x, window.frame.y}, *primary);
            return plinth::Rect{origin.x, origin.y, window.frame.width, window.frame.height};
        }
    }
    return std::nullopt;
}

void GnomeDesktop::fill(Platform& platform) const {
    platform.displays = displays_;
    platform.windowServer = windowServer_;
    platform.workspace = workspace_;
    platform.inputMonitor = inputMonitor_;
    platform.secureInput = secureInput_;
    platform.hotKeys = hotKeys_;
    // ACCESSIBILITY: platform.accessibility is set here once the AT-SPI service works on
    // Wayland, built over `windowFrame` for window-relative extents; its focus watch then goes
    // to GnomeSecureInput through Options::focusWatch.
    platform.desktopBridge = extension_;
    platform.gazeDot = gazeDot_;
    platform.statusIndicator = indicator_;
    platform.desktopConventions =
        std::make_shared<const DesktopConventions>(X11Identifiers::desktopConventions());
}

bool installGnomeDesktop(Platform& platform, std::string* error) {
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS") && !std::getenv("XDG_RUNTIME_DIR")) {
        if (error) {
            *error = "there is no session bus to reach GNOME Shell by";
        }
        return false;
    }
    auto desktop = GnomeDesktop::open({platform.mainQueue, {}, nullptr});
    desktop->fill(platform);
    return true;
}

} // namespace orvane::linuxbackend
