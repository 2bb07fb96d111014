#pragma once

#include "orvane/platform/Keys.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace orvane::posix {

// The modifiers of a chord as the keys on a PC keyboard read ("Ctrl+Alt+Shift+Super+"), in
// that order, for the desktops that write chords that way.
std::string modifierPrefix(std::uint64_t modifiers);

// The key as printed on a US keyboard ("G", "Left", "Return"); nullopt for a key with no
// printed name here.
std::optional<std::string> keyName(Key key);

// The whole chord, "Shift+Super+G" (a key with no printed name is "Key N").
std::string chordText(Key key, std::uint64_t modifiers);

} // namespace orvane::posix
