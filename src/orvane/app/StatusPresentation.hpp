#pragma once

#include "orvane/engine/GazeStatus.hpp"
#include "orvane/platform/PlatformWords.hpp"

#include <string>
#include <vector>

namespace orvane {

// The picture the tray shows for a status.
enum class StatusIcon { tracking, waiting, setup, paused, noFace };

// What choosing a menu item does.
enum class MenuAction {
    none,
    togglePause,
    recalibrate,
    toggleGazeDot,
    finishSetup,
    relaunch,
    openSettings,
    quit
};

// One line of the tray menu, as plain data for whichever toolkit draws it.
struct MenuItem {
    bool separator = false;
    std::string title;
    bool enabled = true;
    bool checkable = false;
    bool checked = false;
    // The chord in the platform's own words; empty for none.
    std::string shortcut;
    MenuAction action = MenuAction::none;
    std::string tooltip;

    friend bool operator==(const MenuItem&, const MenuItem&) = default;
};

// Everything the menu depends on.
struct MenuState {
    GazeStatus status;
    // As the user sees it: the state the engine returns to after a calibration.
    bool isPaused = false;
    bool needsRecalibration = false;
    bool calibrationRunning = false;
    bool showGazeDot = false;
    // The desktop's sentence on the guards it cannot give; empty where it gives them all.
    std::string reducedGuards{};

    friend bool operator==(const MenuState&, const MenuState&) = default;
};

// How a status reads in the tray: its tool tip, its icon, its menu.
namespace StatusPresentation {

// "Watching LEFT", "Holding — typing", "Paused", …
std::string summary(const GazeStatus& status);

StatusIcon icon(const GazeStatus& status);

// The icon's file name without extension ("tracking", "setup", …).
const char* iconName(StatusIcon icon);

// The gaze dot is wanted while the engine looks for the user, never while paused or set-up is
// missing.
bool showsGazeDot(const GazeStatus& status, bool showGazeDotPreference);

// The whole menu, top to bottom: the status line, then either the tracking controls or the
// set-up items, then settings and quit.
std::vector<MenuItem> menu(const MenuState& state, const PlatformWords& words);

} // namespace StatusPresentation

} // namespace orvane
