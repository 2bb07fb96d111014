#pragma once

#include "orvane/focus/ScreenWindow.hpp"
#include "orvane/platform/Displays.hpp"
#include "plinth/Geometry.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace orvane {

// Gives keyboard focus to a window on a display: the one under the gaze, else the one last
// used there, else the frontmost one there; away from the gaze a window is the display's that
// holds most of it. Remembers per display which window that was, also when the user chose it
// by clicking. Main thread only.
class FocusSwitcher {
public:
    // Focuses a window for `screen` and returns it; nothing when no window could be focused
    // (none there, the process or window is gone, activation refused, or refused lately and
    // not yet due to be asked again). Only a success is remembered, and only a success moves
    // the pointer (preference `moveCursor`).
    std::optional<ScreenWindow> focus(const Display& screen, plinth::Point gazePoint);

    // The user clicked into `window`: remember it for the display holding most of it. A
    // window the manager refused may be asked for again at once.
    void noteManualFocus(const ScreenWindow& window);

    // Display key -> window number last focused there. Entries are overwritten, never removed.
    const std::map<std::string, std::uint32_t>& lastWindowPerScreen() const {
        return lastWindowPerScreen_;
    }
    // Key of the display most recently focused or clicked.
    const std::optional<std::string>& currentScreenKey() const { return currentScreenKey_; }

    // "x,y" of the display's frame origin, each truncated toward zero ("-1440,900").
    static std::string key(const Display& screen);
    // The display sharing the most area with the rectangle (ties and no overlap at all: the
    // earlier display); nothing without displays.
    static std::optional<Display> screenContaining(const plinth::Rect& rect);
    // The first display holding the point (half-open).
    static std::optional<Display> screenAt(plinth::Point point);
    static std::optional<Display> nearestScreen(plinth::Point point);

private:
    // The remembered window for the display, if it is still listed and `isHere` still counts
    // it as the display's.
    std::optional<ScreenWindow>
    rememberedWindow(const std::string& screenKey,
                     const std::function<bool(const ScreenWindow&)>& isHere) const;

    std::map<std::string, std::uint32_t> lastWindowPerScreen_;
    std::optional<std::string> currentScreenKey_;
    // The window the window manager last refused, until a focus succeeds. Asking again costs
    // the main thread the manager's whole answer, so it is asked again only after a wait that
    // doubles with every refusal.
    struct Refusal {
        std::uint32_t windowID = 0;
        double wait = 0;       // seconds
        double askAgainAt = 0; // monotonic
    };
    std::optional<Refusal> refusal_;
};

} // namespace orvane
