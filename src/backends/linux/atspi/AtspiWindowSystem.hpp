#pragma once

#include "plinth/Geometry.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace orvane::linuxbackend {

// A top-level window as the window system knows it, in the global top-left space.
struct AtspiTopLevel {
    std::uint64_t id = 0; // the window system's own handle
    std::string title;
    plinth::Rect frame;   // as the user sees it, decorations drawn by anyone included
    plinth::Rect content; // the client's own area, without decorations drawn for it
    plinth::Rect surface; // what the client draws, invisible shadow included
};

// What the accessibility service needs of the window system: the windows that show an
// application's accessible windows, how AT-SPI coordinates relate to the global space, and
// bringing a window forward. Main thread.
class AtspiWindowSystem {
public:
    virtual ~AtspiWindowSystem() = default;

    // The viewable top-level windows of `pid`, front to back; null when the window system
    // cannot be asked.
    virtual std::optional<std::vector<AtspiTopLevel>> windowsOf(pid_t pid) = 0;

    // True where AT-SPI screen coordinates are the window system's (X11). Where they are not
    // (Wayland), extents are asked relative to the window and placed by its frame.
    virtual bool screenCoordinatesUsable() const = 0;
    // Between the global space and AT-SPI screen coordinates, where those are usable.
    virtual plinth::Point screenFromGlobal(plinth::Point global) = 0;
    virtual plinth::Point globalFromScreen(plinth::Point screen) = 0;

    // The window activating `pid` should bring forward next.
    virtual void remember(pid_t pid, std::uint64_t window) = 0;
    // Raises the window; false when it is gone or cannot be raised.
    virtual bool raise(std::uint64_t window) = 0;
};

} // namespace orvane::linuxbackend
