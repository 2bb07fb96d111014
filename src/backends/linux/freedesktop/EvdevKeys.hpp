#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace orvane::linuxbackend {

// The system's key numbers are keyboard positions, so every Linux backend maps them through the
// kernel's evdev codes (linux/input-event-codes.h), never through keysyms: a German or Dvorak
// layout moves letters, not positions.
namespace EvdevKeys {

// evdev code -> system key number; nullopt for keys the system has no number for.
std::optional<std::uint16_t> systemKeyFromEvdev(unsigned int code);

// System key number -> evdev code; nullopt for unknown numbers.
std::optional<unsigned int> evdevFromSystem(std::uint16_t systemKey);

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
