#include "backends/linux/x11/X11SecureInput.hpp"

#include "backends/linux/TerminalEcho.hpp"
#include "backends/linux/atspi/AtspiFocusWatch.hpp"
#include "backends/linux/atspi/AtspiOnDemandTrees.hpp"
#include "backends/linux/atspi/ScreenReaderToolkits.hpp"
#include "backends/linux/x11/X11Connection.hpp"
#include "backends/linux/x11/X11WindowCache.hpp"
#include "backends/linux/x11/X11WindowList.hpp"

namespace orvane::linuxbackend {

X11SecureInput::X11SecureInput(std::shared_ptr<X11Connection> connection,
                               std::shared_ptr<X11WindowCache> cache,
                               std::shared_ptr<AtspiFocusWatch> focus)
    : connection_(std::move(connection)), cache_(std::move(cache)), focus_(std::move(focus)),
      terminals_(std::make_unique<TerminalEcho>()), trees_(std::make_unique<AtspiOnDemandTrees>()),
      toolkits_(std::make_unique<ScreenReaderToolkits>()) {}

X11SecureInput::~X11SecureInput() = default;

bool X11SecureInput::isSecureEventInputEnabled() const {
    if (!connection_->isAlive()) {
        return false;
    }
    return isPasswordFocused() || isKeyboardGrabbedByAnother();
}

bool X11SecureInput::isPasswordFocused() const {
    // Even while no window has focus, so that the next one is seen.
    const bool following = focus_ && focus_->follow();
    const Window active =
        cache_ ? cache_->activeWindow() : X11WindowList::activeWindow(*connection_);
    if (active == None) {
        return false;
    }
    // The listing the cache already holds names the process without a round trip.
    std::optional<pid_t> pid;
    bool listed = false;
    if (auto windows = X11WindowCache::windowsFrom(cache_.get(), *connection_)) {
        for (const auto& window : *windows) {
            if (window.window == active || window.topLevel == active) {
                pid = window.pid;
                listed = true;
                break;
            }
        }
    }
    if (!listed) {
        pid = X11WindowList::pidOf(*connection_, active);
    }
    if (!pid) {
        return false;
    }
    if (following) {
        trees_->wake(*pid);
        if (focus_->isPasswordFocusedIn(*pid)) {
            return true;
        }
    }
    return terminals_->isReadingPassword(active, *pid);
}

bool X11SecureInput::isKeyboardGrabbedByAnother() const {
    ::Display* display = connection_->display();
    // A grab request stamped in the future is refused as GrabInvalidTime without grabbing, but
    // the server tests for another client's grab first. So the question is asked without ever
    // taking the keyboard, which would send the focused window a focus-out and focus-in.
    const Time future = futureServerTime();
    X11Connection::ErrorTrap trap(*connection_);
    const int result =
        XGrabKeyboard(display, connection_->root(), False, GrabModeAsync, GrabModeAsync, future);
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
        if (window.layer >= X11WindowList::popUpMenuLayer || (isLauncher_ && isLauncher_(window))) {
            return false;
        }
    }
    return true;
}

// An hour ahead of the server's clock. Asking the server its time takes a round trip and an
// event, at every frame; its clock counts milliseconds as ours does, so an answer serves for a
// minute, moved on by the time passed here, and stays far ahead of the server all that while.
Time X11SecureInput::futureServerTime() const {
    constexpr auto askAgainAfter = std::chrono::minutes(1);
    const auto now = std::chrono::steady_clock::now();
    if (!serverTimeAt_ || now - *serverTimeAt_ >= askAgainAfter || now < *serverTimeAt_) {
        serverTime_ = connection_->serverTime();
        serverTimeAt_ = now;
        if (serverTime_ == CurrentTime) {
            serverTimeAt_.reset(); // no answer: asked again next time
            return CurrentTime;
        }
    }
    const auto passed =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - *serverTimeAt_).count();
    return (serverTime_ + static_cast<Time>(passed) + 3'600'000) & 0xFFFFFFFFUL;
}

std::size_t X11SecureInput::terminalSessions(pid_t pid) const {
    return pid > 0 ? terminals_->ptysOf(pid).size() : 0;
}

bool X11SecureInput::hidesPasswordFields(pid_t pid) const {
    return focus_ && toolkits_->hidesFields(pid);
}

} // namespace orvane::linuxbackend
