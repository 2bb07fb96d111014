#include "backends/linux/freedesktop/LinuxConventions.hpp"

namespace orvane::linuxbackend::LinuxConventions {

DesktopConventions desktopConventions() {
    DesktopConventions conventions;
    conventions.copyModifier = ModifierFlag::control;

    // Each under its desktop-entry id and, for a missing entry, its window class.
    conventions.launcherIdentifiers = {
        "rofi",
        "Rofi",
        "dmenu",
        "ulauncher",
        "Ulauncher",
        "albert",
        "org.kde.krunner",
        "krunner",
        "xfce4-appfinder",
        "Xfce4-appfinder",
        "synapse",
        "Synapse",
        "kupfer",
        "Kupfer",
    };

    // Only terminals whose default key map moves between split panes with modifiers + arrows.
    const ShortcutProfile controlShift{ModifierFlag::control | ModifierFlag::shift, std::nullopt};
    const ShortcutProfile controlOption{ModifierFlag::control | ModifierFlag::option, std::nullopt};
    const ShortcutProfile option{ModifierFlag::option, std::nullopt};
    conventions.terminalProfiles = {
        {"org.wezfurlong.wezterm", controlShift}, // ActivatePaneDirection: Ctrl+Shift+arrows
        {"com.mitchellh.ghostty", controlOption}, // goto_split: Ctrl+Alt+arrows
        {"com.gexperts.Tilix", option},           // switch to terminal: Alt+arrows
        {"terminator", option},                   // go_up/down/left/right: Alt+arrows
        {"Terminator", option},
    };
    return conventions;
}

} // namespace orvane::linuxbackend::LinuxConventions
