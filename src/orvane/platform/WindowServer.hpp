#pragma once

#include "orvane/platform/Keys.hpp"
#include "plinth/Geometry.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

// One window of the on-screen list, as the window server describes it. The server is another
// process and its answers are not trusted: a field it did not give is empty, and what it gave
// may still be nonsense (a rectangle that is not finite, a number out of range).
struct WindowRecord {
    std::optional<std::int64_t> ownerPid; // the owning process
    std::optional<std::int64_t> number;   // the server's window number
    std::optional<plinth::Rect> bounds;   // the frame, in the global top-left space
    std::optional<std::int64_t> layer;    // 0 for ordinary windows; missing means 0
    std::optional<std::string> ownerName; // the owning application's name
    std::optional<std::string> title;
    // The window's own content area without the decorations around it, where the platform
    // knows one. Toolkits describe their windows to the accessibility service by either.
    std::optional<plinth::Rect> contentBounds;

    bool operator==(const WindowRecord&) const = default;
};

// Modifier bits of key events and of input events, the system's own values whatever the
// platform: backends map their native state onto these.
namespace ModifierFlag {
inline constexpr std::uint64_t capsLock = 0x10000;
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
} // namespace ModifierFlag

class WindowServer {
public:
    virtual ~WindowServer() = default;

    // The on-screen windows of every application, front to back, desktop elements excluded.
    // nullopt when the list cannot be obtained at all. Records are raw: callers validate.
    virtual std::optional<std::vector<WindowRecord>> onScreenWindows() const = 0;

    // The layer of pop-up menus: an entry whose layer is at least this is an open menu.
    virtual std::int64_t popUpMenuLevel() const = 0;

    // True while the focused application shows a menu drawn inside its own window, which no
    // entry of the list shows. Where every menu is a window of its own, never.
    virtual bool isMenuOpenInsideWindow() const { return false; }

    // The pointer's position in the global top-left space (the primary display's top-left
    // corner is the origin, y downwards).
    virtual plinth::Point pointerLocation() const = 0;

    // Moves the pointer to `point` in the global top-left space without generating user
    // activity; the pointer keeps following the mouse afterwards.
    virtual void warpPointer(plinth::Point point) = 0;

    // Posts one synthetic key event (down or up) with exactly `flags` as its modifier state,
    // to the application with keyboard focus. False when the event could not be created or
    // posted.
    virtual bool postKeyEvent(Key key, std::uint64_t flags, bool keyDown) = 0;
};

} // namespace orvane
