#include "backends/linux/X11SecureInput.hpp"

#include "backends/linux/X11Connection.hpp"
#include "backends/linux/X11WindowList.hpp"

namespace orvane::linuxbackend {

X11SecureInput::X11SecureInput(std::shared_ptr<X11Connection> connection)
    : connection_(std::move(connection)) {}

bool X11SecureInput::isSecureEventInputEnabled() const {
    if (!connection_->isAlive()) {
        return false;
    }
    ::Display* display = connection_->display();
    X11Connection::ErrorTrap trap(*connection_);
    const int result = XGrabKeyboard(display, connection_->root(), False, GrabModeAsync,
                                     GrabModeAsync, CurrentTime);
    if (result == GrabSuccess) {
        XUngrabKeyboard(display, CurrentTime);
        XFlush(display);
        return false;
    }
    if (result != AlreadyGrabbed) {
        return false; // frozen or not viewable: nothing we can tell
    }
    auto windows = X11WindowList::query(*connection_);
    if (!windows) {
        return false;
    }
    for (const auto& window : *windows) {
        if (window.layer >= X11WindowList::popUpMenuLayer) {
            return false;
        }
    }
    return true;
}

} // namespace orvane::linuxbackend
