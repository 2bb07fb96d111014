#include "backends/posix/ChordText.hpp"

#include "orvane/platform/WindowServer.hpp"

namespace orvane::posix {
namespace {

// The keys' names as printed on a US keyboard.
struct KeyName {
    Key key;
    const char* name;
};
constexpr KeyName keyNames[] = {
    {Key::a, "A"},
    {Key::b, "B"},
    {Key::c, "C"},
    {Key::d, "D"},
    {Key::e, "E"},
    {Key::f, "F"},
    {Key::g, "G"},
    {Key::h, "H"},
    {Key::i, "I"},
    {Key::j, "J"},
    {Key::k, "K"},
    {Key::l, "L"},
    {Key::m, "M"},
    {Key::n, "N"},
    {Key::o, "O"},
    {Key::p, "P"},
    {Key::q, "Q"},
    {Key::r, "R"},
    {Key::s, "S"},
    {Key::t, "T"},
    {Key::u, "U"},
    {Key::v, "V"},
    {Key::w, "W"},
    {Key::x, "X"},
    {Key::y, "Y"},
    {Key::z, "Z"},
    {Key::digit0, "0"},
    {Key::digit1, "1"},
    {Key::digit2, "2"},
    {Key::digit3, "3"},
    {Key::digit4, "4"},
    {Key::digit5, "5"},
    {Key::digit6, "6"},
    {Key::digit7, "7"},
    {Key::digit8, "8"},
    {Key::digit9, "9"},
    {Key::comma, ","},
    {Key::period, "."},
    {Key::slash, "/"},
    {Key::semicolon, ";"},
    {Key::apostrophe, "'"},
    {Key::leftBracket, "["},
    {Key::rightBracket, "]"},
    {Key::backslash, "\\"},
    {Key::minus, "-"},
    {Key::equal, "="},
    {Key::grave, "`"},
    {Key::space, "Space"},
    {Key::enter, "Return"},
    {Key::tab, "Tab"},
    {Key::escape, "Escape"},
    {Key::backspace, "Backspace"},
    {Key::forwardDelete, "Delete"},
    {Key::leftArrow, "Left"},
    {Key::rightArrow, "Right"},
    {Key::downArrow, "Down"},
    {Key::upArrow, "Up"},
};

} // namespace

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

std::optional<std::string> keyName(Key key) {
    for (const auto& entry : keyNames) {
        if (entry.key == key) {
            return entry.name;
        }
    }
    return std::nullopt;
}

std::string chordText(Key key, std::uint64_t modifiers) {
    return modifierPrefix(modifiers) +
           keyName(key).value_or("Key " + std::to_string(static_cast<int>(key)));
}

} // namespace orvane::posix
