#pragma once

#include "backends/linux/wayland/CompositorServices.hpp"
#include "backends/linux/wayland/client/WaylandClientServices.hpp"
#include "orvane/platform/Platform.hpp"

#include <chrono>
#include <memory>
#include <string>

namespace orvane::linuxbackend {

class AtspiFocusWatch;
class CompositorSecureInput;
class KWinDesktopBridge;
class KWinHotKeys;
class KWinLink;

// The services of KDE Plasma on Wayland: windows, outputs, activation and the cursor through
// Orvane's KWin script; the pause chord through KDE's global shortcuts; activity and the gaze
// dot through Orvane's own Wayland connection. A KWin that does not answer still gives a
// desktop: its bridge says so, and every service answers "nothing" until KWin is there.
class KWinDesktop {
public:
    struct Options {
        std::shared_ptr<MainQueue> mainQueue; // null: the installed platform's
        // Null: one over the desktop's own accessibility service.
        std::shared_ptr<AtspiFocusWatch> focusWatch;
        std::shared_ptr<Clock> clock; // null: the installed platform's
    };

    static std::shared_ptr<KWinDesktop> open(Options options);

    // Sets the desktop services, the input monitor, the hot keys, the bridge and the gaze dot
    // in `platform`; leaves every other member as it is.
    void fill(Platform& platform) const;

    // Waits until KWin and Orvane's Wayland connection have been looked at once.
    void waitUntilSettled(std::chrono::milliseconds timeout) const;

    const std::shared_ptr<KWinLink>& link() const { return link_; }

private:
    KWinDesktop() = default;

    std::shared_ptr<KWinLink> link_;
    CompositorServices services_;
    WaylandClientServices client_;
    std::shared_ptr<CompositorSecureInput> secureInput_;
    std::shared_ptr<KWinHotKeys> hotKeys_;
    std::shared_ptr<KWinDesktopBridge> bridge_;
};

// Fills `platform` with the KWin services (its mainQueue, if set, delivers their events).
// False with the reason in `error` only when there is no session bus to reach KWin by.
bool installKWinDesktop(Platform& platform, std::string* error);

} // namespace orvane::linuxbackend
