#include "backends/linux/wayland/LinkBridge.hpp"

#include "backends/linux/wayland/CompositorLink.hpp"

namespace orvane::linuxbackend {

LinkBridge::LinkBridge(std::shared_ptr<CompositorLink> link, Words words,
                       std::function<std::string()> problem)
    : LinkBridge(
          std::move(link), [words = std::move(words)] { return words; }, std::move(problem)) {}

LinkBridge::LinkBridge(std::shared_ptr<CompositorLink> link, std::function<Words()> words,
                       std::function<std::string()> problem)
    : link_(std::move(link)), words_(std::move(words)), problem_(std::move(problem)) {}

DesktopBridgeState LinkBridge::state() const {
    DesktopBridgeState state;
    state.sessionKind = "Wayland";
    const auto words = words_();
    state.bridgeName = words.bridgeName;
    state.bridgeId = words.bridgeId;
    const auto snapshot = link_->snapshot();
    state.desktop = snapshot.compositorVersion.empty()
                        ? words.desktop
                        : words.desktop + " " + snapshot.compositorVersion;
    state.status = snapshot.ready ? DesktopBridgeStatus::ready : DesktopBridgeStatus::unreachable;
    if (problem_) {
        state.detail = problem_();
    }
    return state;
}

} // namespace orvane::linuxbackend
