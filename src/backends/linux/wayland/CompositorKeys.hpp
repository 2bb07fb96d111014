#pragma once

#include "orvane/platform/Keys.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvane::linuxbackend::CompositorKeys {

// Clutter's modifier and button bits, as the shell reports the pointer's state.
inline constexpr std::uint32_t shiftBit = 1;
inline constexpr std::uint32_t lockBit = 2;
inline constexpr std::uint32_t controlBit = 4;
inline constexpr std::uint32_t altBit = 8;    // Mod1
inline constexpr std::uint32_t superBit = 64; // Mod4
inline constexpr std::uint32_t superMask = 1u << 26;
inline constexpr std::uint32_t button1Bit = 256;
inline constexpr std::uint32_t button2Bit = 512;
inline constexpr std::uint32_t button3Bit = 1024;

// Clutter state -> system modifier mask (`ModifierFlag`); buttons are left out.
std::uint64_t systemFlagsFromClutter(std::uint32_t state);

// The keyval the key types on a US layout (lower-case letters, digits, arrows, Return...);
// nullopt for keys with no keyval here.
std::optional<std::uint32_t> keyvalFromKey(Key key);

// The keyvals of the left-hand keys that hold the modifiers in `flags`, in the order they are
// pressed: Control, Alt, Shift, Super (Caps Lock is latched, not held).
std::vector<std::uint32_t> modifierKeyvals(std::uint64_t flags);

// The chord in GTK accelerator form ("<Shift><Super>g"); nullopt for a key with no name.
std::optional<std::string> accelerator(Key key, std::uint64_t modifiers);

} // namespace orvane::linuxbackend::CompositorKeys
