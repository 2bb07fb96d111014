#include "backends/linux/wayland/gnome/GnomeSecureInput.hpp"

#include "backends/linux/TerminalEcho.hpp"
#include "backends/linux/atspi/AtspiFocusWatch.hpp"
#include "backends/linux/wayland/BridgeConnection.hpp"

namespace orvane::linuxbackend {

GnomeSecureInput::GnomeSecureInput(std::shared_ptr<BridgeConnection> bridge,
                                   std::shared_ptr<AtspiFocusWatch> focus)
    : bridge_(std::move(bridge)), focus_(std::move(focus)),
      terminals_(std::make_unique<TerminalEcho>()) {}

GnomeSecureInput::~GnomeSecureInput() = default;

bool GnomeSecureInput::isSecureEventInputEnabled() const {
    const auto snapshot = bridge_->snapshot();
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
