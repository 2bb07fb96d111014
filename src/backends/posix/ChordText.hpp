#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orvane::posix {

// The modifiers of a chord as the keys on a PC keyboard read ("Ctrl+Alt+Shift+Super+"), in
// that order, for the desktops that write chords that way.
std::string modifierPrefix(std::uint64_t modifiers);

// The key with this system key number as printed on a US keyboard ("G", "Left", "Return");
// nullopt for a number with no name.
std::optional<std::string> keyName(std::uint16_t keyCode);

// The whole chord, "Shift+Super+G" (an unnamed key is "Key N").
std::string chordText(std::uint16_t keyCode, std::uint64_t modifiers);

} // namespace orvane::posix
