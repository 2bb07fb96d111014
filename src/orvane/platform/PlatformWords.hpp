#pragma once

#include <string>
#include <vector>

namespace orvane {

// The sentences that depend on the platform: where people grant the camera and accessibility,
// how the hot key is written, what the desktop's overview is called. Every other text the
// user sees is the system's own and the same everywhere. Plain data, set up by the backend.
struct PlatformWords {
    // How people call their computer in a sentence ("your computer").
    std::string computer;
    // Where the icon lives ("the tray").
    std::string statusArea;
    // The pause chord as people read it.
    std::string pauseHotKey;
    // The menu's shortcuts for the settings window and for quitting, as people read them.
    std::string settingsShortcut;
    std::string quitShortcut;
    // The tool tip of the menu's relaunch item: when a relaunch helps.
    std::string relaunchTooltip;
    // Step 0 of the set-up: what happens to the video.
    std::string cameraBody;
    // Shown when the camera request was refused.
    std::string cameraDenied;
    // Step 1 of the set-up: how accessibility is switched on.
    std::string accessibilityBody;
    // The button that opens the place where accessibility is switched on.
    std::string openAccessibilitySettings;
    // What that button opens (a URL, or empty when the backend does it itself).
    std::string accessibilitySettingsURL;
    // Why a relaunch may be needed after a grant, and whether relaunching Orvane helps at all
    // (where a grant made while it runs may go unnoticed by it).
    std::string relaunchHint;
    bool relaunchNoticesGrant = true;
    // The label and the blocking reason for the desktop's full-screen overview.
    std::string overviewLabel;
    std::string overviewReason;
    // Whether permissions follow the process that launched us (then a report run from a
    // terminal shows the terminal's), and the warning printed then.
    bool permissionsFollowLauncher = false;
    std::vector<std::string> launchedFromTerminalWarning;
    // How the executable of the system's own application launcher ends ("/systemd"): a parent
    // process whose path ends otherwise is taken for a terminal.
    std::vector<std::string> launchServicePathEndings;
    // How to fix a missing accessibility trust, printed by the diagnostics.
    std::vector<std::string> notTrustedAdvice;
};

} // namespace orvane
