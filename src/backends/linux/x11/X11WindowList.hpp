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

// Margins around a rectangle: left, right, top, bottom.
struct X11Margins {
    double left = 0, right = 0, top = 0, bottom = 0;

    bool isZero() const { return left == 0 && right == 0 && top == 0 && bottom == 0; }
    plinth::Rect grow(const plinth::Rect& rect) const {
        return {rect.x - left, rect.y - top, rect.width + left + right, rect.height + top + bottom};
    }
    plinth::Rect shrink(const plinth::Rect& rect) const {
        return {rect.x + left, rect.y + top, rect.width - left - right, rect.height - top - bottom};
    }
};

// What the window list knows of one viewable top-level window.
struct X11WindowInfo {
    Window window = None;   // the client window (or the override-redirect window itself)
    Window topLevel = None; // its child of the root: the window manager's frame, or itself
    std::optional<pid_t> pid;
    // Both in root coordinates and as the user sees the window: a client that draws its own
    // decorations with a shadow (_GTK_FRAME_EXTENTS) is shrunk by the shadow's margins.
    plinth::Rect rootFrame;   // grown by the window manager's frame extents
    plinth::Rect clientFrame; // the client's own area
    // The client's invisible shadow: clientFrame grown by it is the client's X window.
    X11Margins shadow;
    std::string title;
    std::string instanceName;  // WM_CLASS, first part
    std::string className;     // WM_CLASS, second part
    std::string applicationId; // _GTK_APPLICATION_ID, empty when absent
    bool overrideRedirect = false;
    bool isClient = false;  // managed by the window manager (listed in its client list)
    bool keptAbove = false; // _NET_WM_STATE_ABOVE
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
// Utility windows, toolbars, splash screens, windows kept above the others (picture in
// picture): on top of ordinary windows, never the one the user works in.
inline constexpr std::int64_t floatingLayer = 3;
inline constexpr std::int64_t dockLayer = 20; // panels and docks
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

// The client's rectangle in root coordinates grown by _NET_FRAME_EXTENTS and shrunk by
// _GTK_FRAME_EXTENTS; nullopt when gone.
std::optional<plinth::Rect> frameOf(X11Connection& connection, Window client);

// The client's own rectangle in root coordinates, shrunk by _GTK_FRAME_EXTENTS; nullopt when
// gone.
std::optional<plinth::Rect> clientFrameOf(X11Connection& connection, Window client);

// _NET_WM_PID, else the X resource extension's idea of the client's process.
std::optional<pid_t> pidOf(X11Connection& connection, Window window);

// The window that has keyboard focus according to the window manager; None when none.
Window activeWindow(X11Connection& connection);

// The window `window` is a dialog or pop-up of (WM_TRANSIENT_FOR); None when none or gone.
Window transientFor(X11Connection& connection, Window window);

} // namespace X11WindowList

} // namespace orvane::linuxbackend
