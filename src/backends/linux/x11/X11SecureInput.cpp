#include "backends/linux/x11/X11SecureInput.hpp"

#include "backends/linux/x11/X11Connection.hpp"
#include "backends/linux/x11/X11WindowList.hpp"

namespace orvane::linuxbackend {

X11SecureInput::X11SecureInput(std::shared_ptr<X11Connection> connection)
    : connection_(std::move(connection)) {}

bool X11SecureInput::isSecureEventInputEnabled() const {
    if (!connection_->isAlive()) {
        return false;
    }
    ::Display* display = connection_->display();
    // A grab request stamped in the future is refused as GrabInvalidTime without grabbing, but
    // the server tests for another client's grab first. So the question is asked without ever
    // taking the keyboard, which would send the focused window a focus-out and focus-in.
    const Time now = connection_->serverTime();
    const Time future = (now + 3'600'000) & 0xFFFFFFFFUL;
    X11Connection::ErrorTrap trap(*connection_);
    const int result = XGrabKeyboard(display, connection_->root(), False, GrabModeAsync,
                                     GrabModeAsync, now == CurrentTime ? CurrentTime : future);
    if (result == GrabSuccess) {
        XUngrabKeyboard(display, CurrentTime);
        XFlush(display);
        return false;
    }
    if (result != AlreadyGrabbed) {
        return false; // refused for its time stamp, frozen or not viewable: nobody else holds it
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
