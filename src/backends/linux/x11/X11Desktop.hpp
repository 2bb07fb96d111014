#pragma once

#include "orvane/platform/Platform.hpp"

#include <memory>
#include <string>

namespace orvane::linuxbackend {

class AtspiAccessibility;
class X11Connection;
class DesktopEntries;
class X11Displays;
class X11HotKeys;
class X11InputMonitor;
class X11RaisedWindows;
class X11SecureInput;
class X11WindowCache;
class X11WindowServer;
class X11Workspace;

// The X11 + AT-SPI services of the Linux backend over one display connection: displays, window
// server, workspace, input monitor, secure input, accessibility and hot keys, plus the desktop's
// conventions.
class X11Desktop {
public:
    // Opens $DISPLAY. Null with the reason in `error` when there is no X display. `mainQueue`
    // delivers workspace notifications (when null: the installed platform's, at each event).
    static std::shared_ptr<X11Desktop> open(std::shared_ptr<MainQueue> mainQueue,
                                            std::string* error);

    // Sets the seven services and the desktop conventions (launchers, terminal shortcuts, copy
    // modifier) in `platform`; leaves every other member as it is.
    void fill(Platform& platform) const;

    const std::shared_ptr<X11Connection>& connection() const { return connection_; }
    const std::shared_ptr<X11Displays>& displays() const { return displays_; }
    const std::shared_ptr<X11WindowCache>& windowCache() const { return windowCache_; }
    const std::shared_ptr<X11WindowServer>& windowServer() const { return windowServer_; }
    const std::shared_ptr<X11Workspace>& workspace() const { return workspace_; }
    const std::shared_ptr<X11InputMonitor>& inputMonitor() const { return inputMonitor_; }
    const std::shared_ptr<X11SecureInput>& secureInput() const { return secureInput_; }
    const std::shared_ptr<AtspiAccessibility>& accessibility() const { return accessibility_; }
    const std::shared_ptr<X11HotKeys>& hotKeys() const { return hotKeys_; }

private:
    X11Desktop() = default;

    std::shared_ptr<X11Connection> connection_;
    std::shared_ptr<DesktopEntries> entries_;
    std::shared_ptr<X11RaisedWindows> raised_;
    std::shared_ptr<X11Displays> displays_;
    std::shared_ptr<X11WindowCache> windowCache_;
    std::shared_ptr<X11WindowServer> windowServer_;
    std::shared_ptr<X11Workspace> workspace_;
    std::shared_ptr<X11InputMonitor> inputMonitor_;
    std::shared_ptr<X11SecureInput> secureInput_;
    std::shared_ptr<AtspiAccessibility> accessibility_;
    std::shared_ptr<X11HotKeys> hotKeys_;
};

// Opens the display and fills `platform` (its mainQueue, if already set, delivers the workspace
// notifications). False with the reason in `error` when there is no X display.
bool installX11Desktop(Platform& platform, std::string* error);

// Whether the X display named by DISPLAY opens: Qt ends the process when it cannot reach its
// display, so this is asked first.
bool x11DisplayOpens();

} // namespace orvane::linuxbackend
