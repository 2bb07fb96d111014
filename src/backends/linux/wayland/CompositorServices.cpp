#include "backends/linux/wayland/CompositorServices.hpp"

#include "backends/linux/atspi/AtspiAccessibility.hpp"
#include "backends/linux/atspi/AtspiFocusWatch.hpp"
#include "backends/linux/freedesktop/DesktopEntries.hpp"
#include "backends/linux/freedesktop/LinuxConventions.hpp"
#include "backends/linux/wayland/BridgeWindowFrames.hpp"
#include "backends/linux/wayland/CompositorDisplays.hpp"
#include "backends/linux/wayland/CompositorLink.hpp"
#include "backends/linux/wayland/CompositorWindowServer.hpp"
#include "backends/linux/wayland/CompositorWorkspace.hpp"
#include "backends/linux/wayland/PostedKeys.hpp"
#include "plinth/ScreenGeometry.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace orvane::linuxbackend {
namespace {

// Accessible extents are window-relative on Wayland: the compositor's frames place them.
std::shared_ptr<BridgeWindowFrames> framesOf(const std::shared_ptr<CompositorLink>& link) {
    BridgeWindowFrames::Hooks hooks;
    hooks.windows = [weak = std::weak_ptr<CompositorLink>(link)](
                        pid_t pid) -> std::optional<std::vector<BridgeWindowFrames::Window>> {
        auto connection = weak.lock();
        if (!connection) {
            return std::nullopt;
        }
        const auto snapshot = connection->snapshot();
        const auto primary = CompositorDisplays::primaryStage(snapshot);
        if (!primary || !snapshot.windows) {
            return std::nullopt;
        }
        const auto global = [&](const plinth::Rect& stage) {
            const auto origin =
                plinth::ScreenGeometry::globalFromScreen({stage.x, stage.y}, *primary);
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
    // would only double the wait for the compositor. The window must still be there.
    hooks.raise = [weak = std::weak_ptr<CompositorLink>(link)](std::uint64_t id) {
        auto connection = weak.lock();
        const auto snapshot = connection ? connection->snapshot() : CompositorSnapshot{};
        return snapshot.windows &&
               std::any_of(snapshot.windows->begin(), snapshot.windows->end(),
                           [id](const CompositorWindow& window) { return window.id == id; });
    };
    return std::make_shared<BridgeWindowFrames>(hooks);
}

} // namespace

CompositorServices CompositorServices::open(const std::shared_ptr<CompositorLink>& link,
                                            std::shared_ptr<MainQueue> mainQueue,
                                            std::shared_ptr<AtspiFocusWatch> focusWatch) {
    CompositorServices services;
    auto entries = std::make_shared<DesktopEntries>();
    // The keys the window server posts (pane shortcuts) are not the user's typing.
    services.posted = std::make_shared<PostedKeys>();
    services.displays = std::make_shared<CompositorDisplays>(link);
    services.windowServer =
        std::make_shared<CompositorWindowServer>(link, entries, services.posted);
    services.workspace = std::make_shared<CompositorWorkspace>(link, entries, std::move(mainQueue));
    services.accessibility = std::make_shared<AtspiAccessibility>(framesOf(link));
    services.focusWatch = focusWatch ? std::move(focusWatch)
                                     : std::make_shared<AtspiFocusWatch>(services.accessibility);
    return services;
}

void CompositorServices::fill(Platform& platform) const {
    platform.displays = displays;
    platform.windowServer = windowServer;
    platform.workspace = workspace;
    platform.accessibility = accessibility;
    platform.exposure.push_back(kAccessibilityBusExposure);
    platform.desktopConventions =
        std::make_shared<const DesktopConventions>(LinuxConventions::desktopConventions());
}

std::function<bool()> keysGoToOwnWindow(std::weak_ptr<const CompositorLink> link) {
    return [link = std::move(link), own = static_cast<std::uint32_t>(::getpid())] {
        const auto compositor = link.lock();
        if (!compositor) {
            return false;
        }
        const auto snapshot = compositor->snapshot();
        if (!snapshot.windows || snapshot.focusWindow == 0) {
            return false;
        }
        for (const auto& window : *snapshot.windows) {
            if (window.id == snapshot.focusWindow) {
                return window.pid == own;
            }
        }
        return false;
    };
}

} // namespace orvane::linuxbackend
