#pragma once

#include "orvane/platform/Keys.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace orvane::linuxbackend {

// Keys and modifier masks on X. Keys go through the evdev codes (X keycode - 8 under the evdev
// keymap every current X server uses).
namespace X11Keys {

// X keycode -> key; nullopt for keys the system has no name for.
std::optional<Key> keyFromX(unsigned int xKeycode);

// Key -> X keycode; nullopt for Key::unknown.
std::optional<unsigned int> xKeycodeFromKey(Key key);

// X modifier state (ShiftMask, LockMask, ControlMask, Mod1 = Alt, Mod4 = Super) -> system mask.
std::uint64_t systemFlagsFromX(unsigned int xState);

// System mask -> X modifier state; bits X has no modifier for are dropped.
unsigned int xStateFromSystem(std::uint64_t flags);

// The X keycodes of the keys that produce the modifiers in `flags` (left-hand keys), in the order
// they are pressed: Control, Option, Shift, Command. Caps Lock is not a held key and is ignored.
std::vector<unsigned int> modifierKeycodes(std::uint64_t flags);

} // namespace X11Keys

} // namespace orvane::linuxbackend
