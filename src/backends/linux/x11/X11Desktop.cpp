#include "backends/linux/x11/X11Desktop.hpp"

#include "backends/linux/atspi/AtspiAccessibility.hpp"
#include "backends/linux/atspi/AtspiFocusWatch.hpp"
#include "backends/linux/atspi/AtspiPopovers.hpp"
#include "backends/linux/freedesktop/DesktopEntries.hpp"
#include "backends/linux/freedesktop/LinuxConventions.hpp"
#include "backends/linux/x11/X11AtspiWindows.hpp"
#include "backends/linux/x11/X11Connection.hpp"
#include "backends/linux/x11/X11Displays.hpp"
#include "backends/linux/x11/X11HotKeys.hpp"
#include "backends/linux/x11/X11InputMonitor.hpp"
#include "backends/linux/x11/X11PostedKeys.hpp"
#include "backends/linux/x11/X11RaisedWindows.hpp"
#include "backends/linux/x11/X11SecureInput.hpp"
#include "backends/linux/x11/X11WindowCache.hpp"
#include "backends/linux/x11/X11WindowServer.hpp"
#include "backends/linux/x11/X11Workspace.hpp"

namespace orvane::linuxbackend {

std::shared_ptr<X11Desktop> X11Desktop::open(std::shared_ptr<MainQueue> mainQueue,
                                             std::string* error) {
    std::shared_ptr<X11Connection> connection = X11Connection::open(nullptr, error);
    if (!connection) {
        return nullptr;
    }
    std::shared_ptr<X11Desktop> desktop(new X11Desktop());
    desktop->connection_ = connection;
    desktop->entries_ = std::make_shared<DesktopEntries>();
    desktop->raised_ = std::make_shared<X11RaisedWindows>();
    desktop->displays_ = std::make_shared<X11Displays>(connection);
    desktop->windowServer_ = std::make_shared<X11WindowServer>(connection, desktop->entries_);
    desktop->windowServer_->setDisplays(desktop->displays_);
    desktop->windowCache_ = std::make_shared<X11WindowCache>(connection);
    desktop->windowServer_->setWindowCache(desktop->windowCache_);
    desktop->hotKeys_ = std::make_shared<X11HotKeys>(mainQueue);
    desktop->workspace_ = std::make_shared<X11Workspace>(connection, desktop->entries_,
                                                         desktop->raised_, std::move(mainQueue));
    desktop->workspace_->setDisplays(desktop->displays_);
    desktop->workspace_->setWindowCache(desktop->windowCache_);
    desktop->inputMonitor_ = std::make_shared<X11InputMonitor>();
    desktop->workspace_->setLastInputTime(
        [monitor = std::weak_ptr<X11InputMonitor>(desktop->inputMonitor_)] {
            auto input = monitor.lock();
            return input ? input->lastUserInputTime() : std::nullopt;
        });
    // The keys the window server posts (pane shortcuts) are not the user's typing.
    auto postedKeys = std::make_shared<X11PostedKeys>();
    desktop->windowServer_->setPostedKeys(postedKeys);
    desktop->inputMonitor_->setPostedKeys(postedKeys);
    desktop->accessibility_ =
        std::make_shared<AtspiAccessibility>(std::make_shared<X11AtspiWindows>(
            connection, desktop->raised_, desktop->windowCache_, desktop->displays_));
    desktop->secureInput_ = std::make_shared<X11SecureInput>(
        connection, desktop->windowCache_,
        std::make_shared<AtspiFocusWatch>(desktop->accessibility_));
    desktop->workspace_->setLauncherIdentifiers(
        LinuxConventions::desktopConventions().launcherIdentifiers);
    desktop->secureInput_->setLauncherCheck(
        [workspace =
             std::weak_ptr<X11Workspace>(desktop->workspace_)](const X11WindowInfo& window) {
            auto launchers = workspace.lock();
            return launchers && launchers->isLauncherWindow(window);
        });
    // GTK 3 popovers are no windows: the focused application's accessibility tree shows them.
    desktop->windowServer_->setInsideWindowMenuCheck(
        [connection, cache = std::weak_ptr<X11WindowCache>(desktop->windowCache_),
         popovers = std::make_shared<AtspiPopovers>(desktop->accessibility_)] {
            auto windows = cache.lock();
            const Window active = windows ? windows->activeWindow() : None;
            if (active == None) {
                return false;
            }
            X11Connection::ErrorTrap trap(*connection);
            const auto pid = X11WindowList::pidOf(*connection, active);
            return pid && popovers->isShowing(*pid);
        });
    return desktop;
}

void X11Desktop::fill(Platform& platform) const {
    platform.displays = displays_;
    platform.windowServer = windowServer_;
    platform.workspace = workspace_;
    platform.inputMonitor = inputMonitor_;
    platform.secureInput = secureInput_;
    platform.accessibility = accessibility_;
    platform.hotKeys = hotKeys_;
    platform.desktopConventions =
        std::make_shared<const DesktopConventions>(LinuxConventions::desktopConventions());
    platform.exposure.push_back(kAccessibilityBusExposure);
    platform.exposure.push_back(
        "X11 shows every program of yours every window and every key already; Orvane adds one "
        "key grab, the pause chord, and nothing else");
}

bool x11DisplayOpens() {
    ::Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    XCloseDisplay(display);
    return true;
}

bool installX11Desktop(Platform& platform, std::string* error) {
    auto desktop = X11Desktop::open(platform.mainQueue, error);
    if (!desktop) {
        return false;
    }
    desktop->fill(platform);
    return true;
}

} // namespace orvane::linuxbackend
