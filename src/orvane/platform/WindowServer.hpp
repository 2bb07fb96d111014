#pragma once

#include "plinth/Geometry.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace orvane {

// One value of a window-list entry. The window server is another process and its answers are
// not trusted: any key may be missing, and any value may be of an unexpected type.
using WindowEntryValue = std::variant<std::int64_t, double, std::string, plinth::Rect>;

// One raw entry of the on-screen window list: key -> value, keys from `WindowKey`.
using WindowEntry = std::map<std::string, WindowEntryValue>;

namespace WindowKey {
inline constexpr const char* ownerPID = "ownerPID";   // integer: owning process
inline constexpr const char* number = "number";       // integer: the server's window number
inline constexpr const char* bounds = "bounds";       // Rect: frame, global top-left space
inline constexpr const char* layer = "layer";         // integer: 0 for ordinary windows
inline constexpr const char* ownerName = "ownerName"; // text: owning application's name
inline constexpr const char* name = "name";           // text: the window's title
// Rect: the window's own content area without the decorations around it, where the platform
// knows one. Toolkits describe their windows to the accessibility service by either rectangle.
inline constexpr const char* contentBounds = "contentBounds";
} // namespace WindowKey

// Modifier bits of key events and of input events, the system's own values whatever the
// platform: backends map their native state onto these.
namespace ModifierFlag {
inline constexpr std::uint64_t capsLock = 0x10000;
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
} // namespace ModifierFlag

// Key numbers of the system (positions on a US keyboard, whatever the active layout).
namespace KeyCode {
inline constexpr std::uint16_t a = 0;
inline constexpr std::uint16_t g = 5;
inline constexpr std::uint16_t x = 7;
inline constexpr std::uint16_t c = 8;
inline constexpr std::uint16_t leftArrow = 123;
inline constexpr std::uint16_t rightArrow = 124;
inline constexpr std::uint16_t downArrow = 125;
inline constexpr std::uint16_t upArrow = 126;
} // namespace KeyCode

class WindowServer {
public:
    virtual ~WindowServer() = default;

    // The on-screen windows of every application, front to back, desktop elements excluded.
    // nullopt when the list cannot be obtained at all. Entries are raw: callers validate.
    virtual std::optional<std::vector<WindowEntry>> onScreenWindows() const = 0;

    // The layer of pop-up menus: an entry whose layer is at least this is an open menu.
    virtual std::int64_t popUpMenuLevel() const = 0;

    // True while the focused application shows a menu drawn inside its own window, which no
    // entry of the list shows. Where every menu is a window of its own, never.
    virtual bool isMenuOpenInsideWindow() const { return false; }

    // The pointer's position in the native desktop space (bottom-left origin, y upwards).
    virtual plinth::Point pointerLocation() const = 0;

    // Moves the pointer to `point` in the global top-left space without generating user
    // activity; the pointer keeps following the mouse afterwards.
    virtual void warpPointer(plinth::Point point) = 0;

    // Posts one synthetic key event (down or up) with exactly `flags` as its modifier state,
    // to the application with keyboard focus. False when the event could not be created or
    // posted.
    virtual bool postKeyEvent(std::uint16_t keyCode, std::uint64_t flags, bool keyDown) = 0;
};

} // namespace orvane
