#pragma once

#include <cstdint>
#include <string>

namespace orvane::posix {

// The modifiers of a chord as the keys on a PC keyboard read ("Ctrl+Alt+Shift+Super+"), in
// that order, for the desktops that write chords that way.
std::string modifierPrefix(std::uint64_t modifiers);

} // namespace orvane::posix
