#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace orvane::linuxbackend {

// The system's key numbers and modifier masks on X. Key numbers go through the evdev codes
// (X keycode - 8 under the evdev keymap every current X server uses).
namespace X11Keys {

// X keycode -> system key number; nullopt for keys the system has no number for.
std::optional<std::uint16_t> systemKeyFromX(unsigned int xKeycode);

// System key number -> X keycode; nullopt for unknown numbers.
std::optional<unsigned int> xKeycodeFromSystem(std::uint16_t systemKey);

// X modifier state (ShiftMask, LockMask, ControlMask, Mod1 = Alt, Mod4 = Super) -> system mask.
std::uint64_t systemFlagsFromX(unsigned int xState);

// System mask -> X modifier state; bits X has no modifier for are dropped.
unsigned int xStateFromSystem(std::uint64_t flags);

// The X keycodes of the keys that produce the modifiers in `flags` (left-hand keys), in the order
// they are pressed: Control, Option, Shift, Command. Caps Lock is not a held key and is ignored.
std::vector<unsigned int> modifierKeycodes(std::uint64_t flags);

} // namespace X11Keys

} // namespace orvane::linuxbackend
