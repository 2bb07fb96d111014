#include "backends/linux/LinuxWords.hpp"

namespace orvane::linuxbackend {

PlatformWords linuxWords() {
    PlatformWords words;
    words.computer = "computer";
    words.statusArea = "tray";
    words.pauseHotKey = "Shift+Super+G";
    words.settingsShortcut = "Ctrl+,";
    words.quitShortcut = "Ctrl+Q";
    words.relaunchTooltip = "Use this if you have already turned on accessibility";
    words.cameraBody =
        "Orvane watches the position of your head to tell which screen you are facing. Video is "
        "processed on your computer, at 15 frames a second, and never leaves it or touches the "
        "disk.";
    words.cameraDenied = "Camera access was denied. Add yourself to the video group (sudo usermod "
                         "-aG video $USER, then log in again) or allow the camera in your "
                         "desktop's privacy settings.";
    words.accessibilityBody =
        "Moving keyboard focus between windows is something only the accessibility bus can do, "
        "and through it Orvane sees where a password is being typed, in browsers too, so that "
        "focus never leaves it. Switch on assistive technologies in your desktop's "
        "accessibility settings, then come back here.";
    words.openAccessibilitySettings = "Turn On Accessibility…";
    // Empty: the backend's trust prompt switches the bus on (org.a11y.Status IsEnabled).
    words.accessibilitySettingsURL = "";
    words.relaunchHint = "Applications that were already running when the accessibility bus was "
                         "switched on often don't notice it (Chromium and the browsers built on "
                         "it among them; Firefox does), and until then Orvane cannot see their "
                         "password fields. Relaunching fixes it.";
    // Orvane sees the bus switched on at once; the programs started before it are the ones
    // that do not (the set-up names them).
    words.relaunchNoticesGrant = false;
    words.overviewLabel = "overview";
    words.overviewReason = "desktop overview";
    // Permissions on Linux belong to the user, not to the launching process: a report run from
    // a terminal tells the truth, so there is nothing to warn about.
    words.permissionsFollowLauncher = false;
    // systemd (as init or as the user's service manager) and plain init start desktop
    // applications; a parent ending otherwise is a terminal, a shell or a debugger.
    words.launchServicePathEndings = {"/systemd", "/init"};
    words.notTrustedAdvice = {
        "",
        "Accessibility is switched off, so Orvane cannot move focus: the",
        "accessibility bus (org.a11y.Status IsEnabled) is off or missing.",
        "Fix: switch on assistive technologies in your desktop's accessibility",
        "settings, or run:",
        "    gsettings set org.gnome.desktop.interface toolkit-accessibility true",
        "Applications started before that need a restart before Orvane can reach them",
        "or see their password fields (Chromium-based browsers too; Firefox follows the",
        "switch at once).",
    };
    return words;
}

} // namespace orvane::linuxbackend
