#include "backends/posix/ChordText.hpp"

#include "orvane/platform/WindowServer.hpp"

namespace orvane::posix {

std::string modifierPrefix(std::uint64_t modifiers) {
    std::string text;
    if (modifiers & ModifierFlag::control) {
        text += "Ctrl+";
    }
    if (modifiers & ModifierFlag::option) {
        text += "Alt+";
    }
    if (modifiers & ModifierFlag::shift) {
        text += "Shift+";
    }
    if (modifiers & ModifierFlag::command) {
        text += "Super+";
    }
    return text;
}

} // namespace orvane::posix
