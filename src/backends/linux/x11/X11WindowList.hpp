#pragma once

#include "plinth/Geometry.hpp"

#include <X11/Xlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace orvane::linuxbackend {

class X11Connection;

// What the window list knows of one viewable top-level window.
struct X11WindowInfo {
    Window window = None;   // the client window (or the override-redirect window itself)
    Window topLevel = None; // its child of the root: the window manager's frame, or itself
    std::optional<pid_t> pid;
    plinth::Rect rootFrame;   // root coordinates, grown by the window manager's frame extents
    plinth::Rect clientFrame; // root coordinates, the client's own area
    std::string title;
    std::string instanceName;  // WM_CLASS, first part
    std::string className;     // WM_CLASS, second part
    std::string applicationId; // _GTK_APPLICATION_ID, empty when absent
    bool overrideRedirect = false;
    bool isClient = false; // managed by the window manager (listed in its client list)
    std::int64_t layer = 0;
};

// A child of the root window as the server stacks it: every one, mapped or not.
struct X11RootChild {
    Window window = None;
    plinth::Rect frame; // root coordinates, border included
};

// The viewable top-level windows, read afresh from the X server on every call. Windows vanish
// between requests all the time; such a window is simply left out.
namespace X11WindowList {

// Window layers. Only ordinary application windows are at 0.
inline constexpr std::int64_t normalLayer = 0;
inline constexpr std::int64_t floatingLayer = 3; // utility windows, toolbars, splash screens
inline constexpr std::int64_t dockLayer = 20;    // panels and docks
inline constexpr std::int64_t notificationLayer = 23;
inline constexpr std::int64_t statusLayer = 25;     // tooltips, our own overlays, other pop-ups
inline constexpr std::int64_t popUpMenuLayer = 101; // open menus

// Front to back: window-manager clients in their stacking order, with mapped override-redirect
// windows placed where the server stacks them. Desktop windows are left out. nullopt when the
// connection is gone.
// `rootStack`, when given, receives the root's children bottom to top as they were read
// (children that vanished meanwhile are left out).
std::optional<std::vector<X11WindowInfo>> query(X11Connection& connection,
                                                std::vector<X11RootChild>* rootStack = nullptr);

// The client's rectangle in root coordinates grown by _NET_FRAME_EXTENTS; nullopt when gone.
std::optional<plinth::Rect> frameOf(X11Connection& connection, Window client);

// The client's own rectangle in root coordinates; nullopt when gone.
std::optional<plinth::Rect> clientFrameOf(X11Connection& connection, Window client);

// _NET_WM_PID, else the X resource extension's idea of the client's process.
std::optional<pid_t> pidOf(X11Connection& connection, Window window);

// The window that has keyboard focus according to the window manager; None when none.
Window activeWindow(X11Connection& connection);

} // namespace X11WindowList

} // namespace orvane::linuxbackend
