#pragma once

#include "orvane/platform/Keys.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace orvane::linuxbackend {

// Keys are places on the keyboard, so every Linux backend maps them through the kernel's evdev
// codes (linux/input-event-codes.h), never through keysyms: a German or Dvorak layout moves
// letters, not places.
namespace EvdevKeys {

// evdev code -> key; nullopt for keys the system has no name for.
std::optional<Key> keyFromEvdev(unsigned int code);

// Key -> evdev code; nullopt for Key::unknown.
std::optional<unsigned int> evdevFromKey(Key key);

// The evdev codes of the keys that produce the modifiers in `flags` (left-hand keys), in the
// order they are pressed: Control, Option, Shift, Command. Caps Lock is not a held key and is
// ignored.
std::vector<unsigned int> modifierCodes(std::uint64_t flags);

// Presses `keys` in order through `press` (true when the key went down), stopping at the first
// that does not go down; then releases every key that went down through `release`, last first,
// so that a failed chord leaves nothing held. True when all went down (nothing is released).
bool pressAll(const std::vector<unsigned int>& keys, const std::function<bool(unsigned int)>& press,
              const std::function<void(unsigned int)>& release);

} // namespace EvdevKeys

} // namespace orvane::linuxbackend
