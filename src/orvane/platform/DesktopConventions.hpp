#pragma once

#include "orvane/platform/WindowServer.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace orvane {

// A key pressed with modifiers, in the system's masks.
struct KeyChord {
    Key key = Key::unknown;
    std::uint64_t flags = 0;
};

// How a terminal moves to the neighbouring split pane: an arrow key held with `modifiers`,
// optionally after a `prefix` chord (tmux-style terminals).
struct ShortcutProfile {
    std::uint64_t modifiers = 0;
    std::optional<KeyChord> prefix;
};

// Habits of the desktop that differ between platforms. The components carry built-in tables
// for the identifiers they know; a backend adds its platform's own here. Plain data, set up
// once when the backend is installed.
struct DesktopConventions {
    // The modifier that, held with C or X, copies or cuts: `ModifierFlag::command` where
    // Command+C copies, `ModifierFlag::control` where Control+C (and Control+Shift+C in
    // terminals) does.
    std::uint64_t copyModifier = ModifierFlag::command;

    // Application identifiers (as `RunningApplication::applicationId` reports them) of
    // launchers and quick-open panels, matched exactly, in addition to the built-in ones.
    std::set<std::string> launcherIdentifiers;

    // Terminals that move between split panes by shortcut, by application identifier. An entry
    // here replaces a built-in profile with the same identifier.
    std::map<std::string, ShortcutProfile> terminalProfiles;
};

} // namespace orvane
