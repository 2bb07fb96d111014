#include "backends/linux/wayland/CompositorSecureInput.hpp"

#include "backends/linux/TerminalEcho.hpp"
#include "backends/linux/atspi/AtspiFocusWatch.hpp"
#include "backends/linux/atspi/AtspiOnDemandTrees.hpp"
#include "backends/linux/atspi/ScreenReaderToolkits.hpp"
#include "backends/linux/wayland/CompositorLink.hpp"

namespace orvane::linuxbackend {

CompositorSecureInput::CompositorSecureInput(std::shared_ptr<CompositorLink> link,
                                             std::shared_ptr<AtspiFocusWatch> focus)
    : link_(std::move(link)), focus_(std::move(focus)),
      terminals_(std::make_unique<TerminalEcho>()), trees_(std::make_unique<AtspiOnDemandTrees>()),
      toolkits_(std::make_unique<ScreenReaderToolkits>()) {}

CompositorSecureInput::~CompositorSecureInput() = default;

bool CompositorSecureInput::isSecureEventInputEnabled() const {
    const auto snapshot = link_->snapshot();
    const std::string& modal = snapshot.shellModal;
    if (modal == "password" || modal == "dialog" || modal == "locked") {
        return true;
    }
    // Even while no window has focus, so that the next one is seen.
    const bool following = focus_ && focus_->follow();
    if (snapshot.focusWindow == 0 || !snapshot.windows) {
        return false;
    }
    for (const auto& window : *snapshot.windows) {
        if (window.id != snapshot.focusWindow) {
            continue;
        }
        if (window.pid == 0) {
            // A compositor that names no process (the wlroots protocols): the focus AT-SPI
            // last told of is this window's, as keys go nowhere else.
            return following && focus_->isPasswordFocused();
        }
        const auto pid = static_cast<pid_t>(window.pid);
        if (following) {
            trees_->wake(pid);
            if (focus_->isPasswordFocusedIn(pid)) {
                return true;
            }
        }
        return terminals_->isReadingPassword(window.id, pid);
    }
    return false;
}

std::size_t CompositorSecureInput::terminalSessions(pid_t pid) const {
    return pid > 0 ? terminals_->ptysOf(pid).size() : 0;
}

bool CompositorSecureInput::hidesPasswordFields(pid_t pid) const {
    return focus_ && toolkits_->hidesFields(pid);
}

} // namespace orvane::linuxbackend
