#include "backends/linux/wayland/hyprland/HyprlandDesktop.hpp"

#include "backends/linux/wayland/LinkBridge.hpp"
#include "backends/linux/wayland/client/CompositorDesktop.hpp"
#include "backends/linux/wayland/client/WaylandClient.hpp"
#include "backends/linux/wayland/hyprland/HyprlandHotKeys.hpp"
#include "backends/linux/wayland/hyprland/HyprlandLink.hpp"
#include "backends/linux/wayland/hyprland/HyprlandToplevels.hpp"

#include <cstdlib>

namespace orvane::linuxbackend {

bool installHyprlandDesktop(Platform& platform, std::string* error) {
    return installCompositorDesktop(
        platform, error,
        std::getenv("HYPRLAND_INSTANCE_SIGNATURE")
            ? ""
            : "HYPRLAND_INSTANCE_SIGNATURE is not set: Hyprland's sockets cannot be found",
        [](CompositorDesktop::Options options) {
            // The connection's worker needs a queue for its events from the start.
            if (!options.mainQueue && hasPlatform()) {
                options.mainQueue = orvane::platform().mainQueue;
            }
            // One connection for the toplevels activated, the idle timer and the dot.
            auto client = std::make_shared<WaylandClient>(options.mainQueue);
            auto link = std::make_shared<HyprlandLink>(options.mainQueue, options.environment,
                                                       std::make_shared<HyprlandToplevels>(client));
            return CompositorDesktop::open(
                {link, std::make_shared<HyprlandHotKeys>(link),
                 std::make_shared<LinkBridge>(link,
                                              LinkBridge::Words{"Hyprland", "the IPC of Hyprland",
                                                                "HYPRLAND_INSTANCE_SIGNATURE"}),
                 // Hyprland tells where the pointer is only when asked, and nothing of keys:
                 // the idle timer tells that there was input, and pointer use counts as typing.
                 false, client,
                 "Hyprland's IPC sockets and its list of windows are Hyprland's own and open "
                 "to every program of yours; "
                 "Orvane adds nothing to Hyprland, and its pause toggle (orvane --toggle-pause) "
                 "is a method of its own on your session bus",
                 nullptr},
                options);
        },
        // Hyprland answers in milliseconds.
        std::chrono::seconds(3));
}

} // namespace orvane::linuxbackend
