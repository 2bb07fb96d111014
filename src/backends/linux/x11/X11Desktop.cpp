#include "backends/linux/x11/X11Desktop.hpp"

#include "backends/linux/atspi/AtspiAccessibility.hpp"
#include "backends/linux/x11/X11Connection.hpp"
#include "backends/linux/x11/X11DesktopEntries.hpp"
#include "backends/linux/x11/X11Displays.hpp"
#include "backends/linux/x11/X11HotKeys.hpp"
#include "backends/linux/x11/X11Identifiers.hpp"
#include "backends/linux/x11/X11InputMonitor.hpp"
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
    desktop->entries_ = std::make_shared<X11DesktopEntries>();
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
    desktop->secureInput_ = std::make_shared<X11SecureInput>(connection);
    desktop->accessibility_ = std::make_shared<AtspiAccessibility>(connection, desktop->raised_);
    desktop->accessibility_->setWindowCache(desktop->windowCache_);
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
        std::make_shared<const DesktopConventions>(X11Identifiers::desktopConventions());
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
