#include "backends/linux/wayland/sway/SwayDesktopBridge.hpp"

#include "backends/linux/wayland/sway/SwayLink.hpp"

namespace orvane::linuxbackend {

SwayDesktopBridge::SwayDesktopBridge(std::shared_ptr<SwayLink> link) : link_(std::move(link)) {}

DesktopBridgeState SwayDesktopBridge::state() const {
    DesktopBridgeState state;
    state.sessionKind = "Wayland";
    state.bridgeName = "the IPC socket of sway";
    state.bridgeId = "SWAYSOCK";
    const auto snapshot = link_->snapshot();
    state.desktop =
        snapshot.compositorVersion.empty() ? "sway" : "sway " + snapshot.compositorVersion;
    state.status = snapshot.ready ? DesktopBridgeStatus::ready : DesktopBridgeStatus::unreachable;
    return state;
}

} // namespace orvane::linuxbackend
