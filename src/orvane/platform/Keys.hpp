#pragma once

#include <cstdint>

namespace orvane {

// Keys by their place on the keyboard, named as on a US layout whatever layout is active: a
// chord stays where the hand finds it, and a German or Dvorak layout moves letters, not keys.
// clang-format off
enum class Key : std::uint8_t {
    unknown, // a key the system has no name for, or one the desktop did not say
    // Letters and digits.
    a, b, c, d, e, f, g, h, i, j, k, l, m, n, o, p, q, r, s, t, u, v, w, x, y, z,
    digit0, digit1, digit2, digit3, digit4, digit5, digit6, digit7, digit8, digit9,
    // Punctuation.
    minus, equal, leftBracket, rightBracket, backslash, semicolon, apostrophe, grave, comma,
    period, slash, isoSection, jisUnderscore, jisYen,
    // Editing and moving.
    space, enter, tab, escape, backspace, forwardDelete, insert, home, end, pageUp, pageDown,
    leftArrow, rightArrow, downArrow, upArrow,
    // Modifiers.
    leftControl, rightControl, leftShift, rightShift, leftOption, rightOption, leftCommand,
    rightCommand, capsLock,
    // Function keys.
    f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, f17, f18, f19, f20,
    // The keypad.
    keypad0, keypad1, keypad2, keypad3, keypad4, keypad5, keypad6, keypad7, keypad8, keypad9,
    keypadDecimal, keypadPlus, keypadMinus, keypadMultiply, keypadDivide, keypadEnter,
    keypadEquals, keypadComma, keypadClear,
    // The rest; eisu stays last.
    mute, volumeDown, volumeUp, menu, kana, eisu,
};
// clang-format on

} // namespace orvane
