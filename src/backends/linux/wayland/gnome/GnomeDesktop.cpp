#include "backends/linux/wayland/gnome/GnomeDesktop.hpp"

#include "backends/linux/atspi/AtspiAccessibility.hpp"
#include "backends/linux/atspi/AtspiFocusWatch.hpp"
#include "backends/linux/wayland/BridgeConnection.hpp"
#include "backends/linux/wayland/BridgeWindowFrames.hpp"
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

#include <algorithm>
#include <cstdlib>
#include <systemd/sd-bus.h>

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
    // Accessible extents are window-relative on Wayland: the bridge's frames place them.
    BridgeWindowFrames::Hooks hooks;
    hooks.windows = [weak = std::weak_ptr<BridgeConnection>(bridge)](
                        pid_t pid) -> std::optional<std::vector<BridgeWindowFrames::Window>> {
        auto connection = weak.lock();
        if (!connection) {
            return std::nullopt;
        }
        const auto snapshot = connection->snapshot();
        const auto primary = GnomeDisplays::primaryStage(snapshot);
        if (!primary || !snapshot.windows) {
            return std::nullopt;
        }
        const auto global = [&](const plinth::Rect& stage) {
            const auto origin = X11Displays::globalFromRoot({stage.x, stage.y}, *primary);
            return plinth::Rect{origin.x, origin.y, stage.width, stage.height};
        };
        std::vector<BridgeWindowFrames::Window> windows;
        for (const auto& window : *snapshot.windows) {
            if (window.pid == static_cast<std::uint32_t>(pid) && !window.minimized) {
                windows.push_back(
                    {window.id, window.title, global(window.frame), global(window.buffer)});
            }
        }
        return windows;
    };
    // The exact activation that follows a raise brings the window forward; a second one here
    // would only double the wait for the shell. The window must still be there.
    hooks.raise = [weak = std::weak_ptr<BridgeConnection>(bridge)](std::uint64_t id) {
        auto connection = weak.lock();
        const auto snapshot = connection ? connection->snapshot() : BridgeSnapshot{};
        return snapshot.windows &&
               std::any_of(snapshot.windows->begin(), snapshot.windows->end(),
                           [id](const BridgeWindow& window) { return window.id == id; });
    };
    desktop->accessibility_ =
        std::make_shared<AtspiAccessibility>(std::make_shared<BridgeWindowFrames>(hooks));
    if (!options.focusWatch) {
        options.focusWatch = std::make_shared<AtspiFocusWatch>(desktop->accessibility_);
    }
    desktop->secureInput_ = std::make_shared<GnomeSecureInput>(bridge, options.focusWatch);
    desktop->hotKeys_ = std::make_shared<GnomeHotKeys>(bridge);
    desktop->extension_ = std::make_shared<GnomeShellExtension>(bridge, options.environment);
    desktop->gazeDot_ = std::make_shared<GnomeGazeDot>(bridge);
    desktop->indicator_ = std::make_shared<GnomeIndicator>(bridge);
    return desktop;
}

void GnomeDesktop::fill(Platform& platform) const {
    platform.displays = displays_;
    platform.windowServer = windowServer_;
    platform.workspace = workspace_;
    platform.inputMonitor = inputMonitor_;
    platform.secureInput = secureInput_;
    platform.hotKeys = hotKeys_;
    platform.accessibility = accessibility_;
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
    // The shell answers in milliseconds; what is asked first (the monitors, by --diagnose or
    // the first pose) should find its answer there.
    desktop->bridge()->waitUntilSettled(std::chrono::seconds(3));
    desktop->fill(platform);
    return true;
}

} // namespace orvane::linuxbackend
