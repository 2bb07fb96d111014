#include "backends/linux/wayland/LinkBridge.hpp"

#include "backends/linux/wayland/CompositorLink.hpp"

namespace orvane::linuxbackend {

LinkBridge::LinkBridge(std::shared_ptr<CompositorLink> link, Words words,
                       std::function<std::string()> problem)
    : link_(std::move(link)), words_(std::move(words)), problem_(std::move(problem)) {}

DesktopBridgeState LinkBridge::state() const {
    DesktopBridgeState state;
    state.sessionKind = "Wayland";
    state.bridgeName = words_.bridgeName;
    state.bridgeId = words_.bridgeId;
    const auto snapshot = link_->snapshot();
    state.desktop = snapshot.compositorVersion.empty()
                        ? words_.desktop
                        : words_.desktop + " " + snapshot.compositorVersion;
    state.status = snapshot.ready ? DesktopBridgeStatus::ready : DesktopBridgeStatus::unreachable;
    if (problem_) {
        state.detail = problem_();
    }
    return state;
}

} // namespace orvane::linuxbackend
