#include "backends/linux/wayland/sway/SwaySecureInput.hpp"

#include "backends/linux/TerminalEcho.hpp"
#include "backends/linux/atspi/AtspiFocusWatch.hpp"
#include "backends/linux/wayland/CompositorLink.hpp"

namespace orvane::linuxbackend {

SwaySecureInput::SwaySecureInput(std::shared_ptr<CompositorLink> link,
                                 std::shared_ptr<AtspiFocusWatch> focus)
    : link_(std::move(link)), focus_(std::move(focus)),
      terminals_(std::make_unique<TerminalEcho>()) {}

SwaySecureInput::~SwaySecureInput() = default;

bool SwaySecureInput::isSecureEventInputEnabled() const {
    if (focus_) {
        focus_->follow(); // even while no window has focus, so that the next one is seen
    }
    const auto snapshot = link_->snapshot();
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
