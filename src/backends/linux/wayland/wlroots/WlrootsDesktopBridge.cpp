#include "backends/linux/wayland/wlroots/WlrootsDesktopBridge.hpp"

#include "backends/linux/wayland/wlroots/WlrootsLink.hpp"

namespace orvane::linuxbackend {

WlrootsDesktopBridge::WlrootsDesktopBridge(std::shared_ptr<WlrootsLink> link, std::string desktop)
    : link_(std::move(link)), desktop_(std::move(desktop)) {}

DesktopBridgeState WlrootsDesktopBridge::state() const {
    DesktopBridgeState state;
    state.sessionKind = "Wayland";
    state.desktop = desktop_.empty() ? "a wlroots compositor" : desktop_;
    state.bridgeName = "the compositor's list of windows (wlroots foreign-toplevel protocol)";
    state.bridgeId = WlrootsLink::managerInterface;
    state.status =
        link_->snapshot().ready ? DesktopBridgeStatus::ready : DesktopBridgeStatus::unreachable;
    state.detail = link_->problem();
    return state;
}

} // namespace orvane::linuxbackend
