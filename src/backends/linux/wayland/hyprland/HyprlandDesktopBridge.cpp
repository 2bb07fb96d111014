#include "backends/linux/wayland/hyprland/HyprlandDesktopBridge.hpp"

#include "backends/linux/wayland/hyprland/HyprlandLink.hpp"

namespace orvane::linuxbackend {

HyprlandDesktopBridge::HyprlandDesktopBridge(std::shared_ptr<HyprlandLink> link)
    : link_(std::move(link)) {}

DesktopBridgeState HyprlandDesktopBridge::state() const {
    DesktopBridgeState state;
    state.sessionKind = "Wayland";
    state.bridgeName = "the IPC of Hyprland";
    state.bridgeId = "HYPRLAND_INSTANCE_SIGNATURE";
    const auto snapshot = link_->snapshot();
    state.desktop =
        snapshot.compositorVersion.empty() ? "Hyprland" : "Hyprland " + snapshot.compositorVersion;
    state.status = snapshot.ready ? DesktopBridgeStatus::ready : DesktopBridgeStatus::unreachable;
    return state;
}

} // namespace orvane::linuxbackend
