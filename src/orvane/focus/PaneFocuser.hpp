#pragma once

#include "orvane/focus/ScreenWindow.hpp"
#include "orvane/platform/AccessibilityService.hpp"
#include "orvane/platform/DesktopConventions.hpp"
#include "orvane/platform/TerminalMultiplexer.hpp"
#include "plinth/Geometry.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <sys/types.h>

namespace orvane {

// Moves keyboard focus between split panes of the frontmost window, following the gaze: in a
// terminal whose foreground program is a multiplexer, through the multiplexer (the terminal's
// accessibility cannot see its panes); else through accessibility (the focusable element under
// the gaze); else, for terminals with a shortcut profile, by typing their "go to the pane in
// that direction" shortcut. Main thread.
class PaneFocuser {
public:
    // Elements examined on the way up from the hit element: itself and 11 ancestors.
    static constexpr int climbLimit = 12;
    // Within this fraction of the window's size from its centre no direction is chosen.
    static constexpr double deadZone = 0.2;
    // A multiplexer's layout fits a window only when its cells come out this much taller than
    // wide; else it shows in a part of the window (a split of the terminal's own).
    static constexpr double minCellAspect = 1.2;
    static constexpr double maxCellAspect = 3.5;

    // True when a pane focus was performed (accessibility focus set, or a shortcut posted).
    // Does nothing at all while the preference `focusPanes` is off.
    bool focusPane(const ScreenWindow& window, plinth::Point gazePoint);

    // Frame of the pane last focused through accessibility; the engine clears it when focus
    // moves to another display.
    const std::optional<plinth::Rect>& lastPaneFrame() const { return lastPaneFrame_; }
    void clearLastPaneFrame() { lastPaneFrame_.reset(); }

    // Roles of elements that take keyboard focus as a pane.
    static const std::set<AccessibleRole>& focusableRoles();
    // The built-in terminal profiles, by application identifier.
    static const std::map<std::string, ShortcutProfile>& shortcutProfiles();
    // The profile for an application identifier: the platform's own entry, else a built-in
    // one (exact match).
    static std::optional<ShortcutProfile> profileFor(const std::string& identifier);

    // The pane of `layout` under `point` when the layout fills `area`; null on a border or a
    // status line, and when the layout cannot be what `area` shows.
    static const MultiplexerPane* paneAt(const MultiplexerLayout& layout, const plinth::Rect& area,
                                         plinth::Point point);
    // Whether `layout` can fill `area`: cells of a terminal's shape.
    static bool fills(const MultiplexerLayout& layout, const plinth::Rect& area);

private:
    // Nullopt when the window shows no multiplexer, else whether a pane was selected.
    static std::optional<bool> focusViaMultiplexer(const ScreenWindow& window,
                                                   plinth::Point gazePoint);
    bool focusViaAccessibility(pid_t pid, plinth::Point point);
    static bool focusViaShortcut(const ShortcutProfile& profile, const ScreenWindow& window,
                                 plinth::Point gazePoint);
    // One key-down and one key-up carrying `flags`; false when the key-down was not posted.
    static bool send(Key key, std::uint64_t flags);

    std::optional<plinth::Rect> lastPaneFrame_;
};

} // namespace orvane
