#include "backends/linux/wayland/CompositorSecureInput.hpp"

#include "backends/linux/TerminalEcho.hpp"
#include "backends/linux/atspi/AtspiFocusWatch.hpp"
#include "backends/linux/wayland/CompositorLink.hpp"

namespace orvane::linuxbackend {

CompositorSecureInput::CompositorSecureInput(std::shared_ptr<CompositorLink> link,
                                             std::shared_ptr<AtspiFocusWatch> focus)
    : link_(std::move(link)), focus_(std::move(focus)),
      terminals_(std::make_unique<TerminalEcho>()) {}

CompositorSecureInput::~CompositorSecureInput() = default;

bool CompositorSecureInput::isSecureEventInputEnabled() const {
    const auto snapshot = link_->snapshot();
    const std::string& modal = snapshot.shellModal;
    if (modal == "password" || modal == "dialog" || modal == "locked") {
        return true;
    }
    if (focus_) {
        focus_->follow(); // even while no window has focus, so that the next one is seen
    }
    if (snapshot.focusWindow == 0 || !snapshot.windows) {
        return false;
    }
    for (const auto& window : *snapshot.windows) {
        if (window.id != snapshot.focusWindow || window.pid == 0) {
            continue;
        }
        const auto pid = static_cast<pid_t>(window.pid);
        if (focus_ && focus_->isPasswordFocusedIn(pid)) {
            return true;
        }
        return terminals_->isReadingPassword(window.id, pid);
    }
    return false;
}

} // namespace orvane::linuxbackend
