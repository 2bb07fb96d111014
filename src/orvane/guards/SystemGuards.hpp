#pragma once

#include "orvane/platform/WindowServer.hpp"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orvane {

// Desktop states in which moving focus would get in the user's way. Each answer is a fresh
// query; a window list that cannot be had answers false (the guards then hold nothing back).
namespace SystemGuards {

// One listing of the on-screen windows. The engine asks every question of one pose against
// the same listing, since listing the windows is the expensive part.
struct WindowSnapshot {
    std::optional<std::vector<WindowRecord>> entries; // nullopt: the list could not be had
    std::int64_t popUpMenuLevel = 0;
    // A menu drawn inside the focused window, which no entry shows.
    bool menuInsideWindow = false;
};
WindowSnapshot snapshot();

// A window at or above the pop-up-menu level is on screen (whoever owns it), not counting the
// gaze overlay's dot; or the window server knows of a menu drawn inside a window.
bool isMenuOpen();
bool isMenuOpen(const WindowSnapshot& windows);

// The desktop says its overview is showing, or a window owned by the process named exactly
// "Dock" covers more than 40 % of the total display area (how that overview shows itself
// where it is made of windows).
bool isMissionControlActive();
bool isMissionControlActive(const WindowSnapshot& windows);

// The frontmost application's name (or "launcher" when it has none) when it is a launcher or
// quick-open panel.
std::optional<std::string> activeLauncher();

// The built-in launcher identifiers, matched exactly; the platform's own are added to these.
const std::set<std::string>& launcherBundleIDs();

// The gaze overlay registers its dot window, which floats above everything like a menu, so
// that it is not mistaken for one; nullopt when the dot is gone. The registration belongs to
// the installed platform and is forgotten when another is installed.
void setOverlayWindowNumber(std::optional<std::uint32_t> number);
std::optional<std::uint32_t> overlayWindowNumber();

} // namespace SystemGuards

} // namespace orvane
