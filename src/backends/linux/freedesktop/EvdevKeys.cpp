#include "backends/linux/freedesktop/EvdevKeys.hpp"

#include "orvane/platform/Keys.hpp"
#include "orvane/platform/WindowServer.hpp"

#include <utility>

namespace orvane::linuxbackend::EvdevKeys {
namespace {

// evdev code (linux/input-event-codes.h) -> the key at that place.
constexpr std::pair<unsigned int, Key> table[] = {
    {1, Key::escape}, // ESC
    {2, Key::digit1},
    {3, Key::digit2},
    {4, Key::digit3},
    {5, Key::digit4},
    {6, Key::digit5},
    {7, Key::digit6},
    {8, Key::digit7},
    {9, Key::digit8},
    {10, Key::digit9},
    {11, Key::digit0},    // 1..9, 0
    {12, Key::minus},     // MINUS
    {13, Key::equal},     // EQUAL
    {14, Key::backspace}, // BACKSPACE
    {15, Key::tab},       // TAB
    {16, Key::q},
    {17, Key::w},
    {18, Key::e},
    {19, Key::r},
    {20, Key::t},
    {21, Key::y},
    {22, Key::u},
    {23, Key::i},
    {24, Key::o},
    {25, Key::p},            // Q W E R T Y U I O P
    {26, Key::leftBracket},  // LEFTBRACE
    {27, Key::rightBracket}, // RIGHTBRACE
    {28, Key::enter},        // ENTER
    {29, Key::leftControl},  // LEFTCTRL
    {30, Key::a},
    {31, Key::s},
    {32, Key::d},
    {33, Key::f},
    {34, Key::g},
    {35, Key::h},
    {36, Key::j},
    {37, Key::k},
    {38, Key::l},          // A S D F G H J K L
    {39, Key::semicolon},  // SEMICOLON
    {40, Key::apostrophe}, // APOSTROPHE
    {41, Key::grave},      // GRAVE
    {42, Key::leftShift},  // LEFTSHIFT
    {43, Key::backslash},  // BACKSLASH
    {44, Key::z},
    {45, Key::x},
    {46, Key::c},
    {47, Key::v},
    {48, Key::b},
    {49, Key::n},
    {50, Key::m},              // Z X C V B N M
    {51, Key::comma},          // COMMA
    {52, Key::period},         // DOT
    {53, Key::slash},          // SLASH
    {54, Key::rightShift},     // RIGHTSHIFT
    {55, Key::keypadMultiply}, // KPASTERISK
    {56, Key::leftOption},     // LEFTALT
    {57, Key::space},          // SPACE
    {58, Key::capsLock},       // CAPSLOCK
    {59, Key::f1},
    {60, Key::f2},
    {61, Key::f3},
    {62, Key::f4},
    {63, Key::f5},
    {64, Key::f6},
    {65, Key::f7},
    {66, Key::f8},
    {67, Key::f9},
    {68, Key::f10},         // F1..F10
    {69, Key::keypadClear}, // NUMLOCK (keypad clear)
    {71, Key::keypad7},
    {72, Key::keypad8},
    {73, Key::keypad9},
    {74, Key::keypadMinus},
    {75, Key::keypad4},
    {76, Key::keypad5},
    {77, Key::keypad6},
    {78, Key::keypadPlus},
    {79, Key::keypad1},
    {80, Key::keypad2},
    {81, Key::keypad3},
    {82, Key::keypad0},
    {83, Key::keypadDecimal}, // keypad 7 8 9 - 4 5 6 + 1 2 3 0 .
    {86, Key::isoSection},    // 102ND (ISO section)
    {87, Key::f11},
    {88, Key::f12},            // F11 F12
    {96, Key::keypadEnter},    // KPENTER
    {97, Key::rightControl},   // RIGHTCTRL
    {98, Key::keypadDivide},   // KPSLASH
    {100, Key::rightOption},   // RIGHTALT
    {102, Key::home},          // HOME
    {103, Key::upArrow},       // UP
    {104, Key::pageUp},        // PAGEUP
    {105, Key::leftArrow},     // LEFT
    {106, Key::rightArrow},    // RIGHT
    {107, Key::end},           // END
    {108, Key::downArrow},     // DOWN
    {109, Key::pageDown},      // PAGEDOWN
    {110, Key::insert},        // INSERT (help)
    {111, Key::forwardDelete}, // DELETE (forward delete)
    {113, Key::mute},          // MUTE
    {114, Key::volumeDown},    // VOLUMEDOWN
    {115, Key::volumeUp},      // VOLUMEUP
    {117, Key::keypadEquals},  // KPEQUAL
    {125, Key::leftCommand},   // LEFTMETA
    {126, Key::rightCommand},  // RIGHTMETA
    {127, Key::menu},          // COMPOSE (context menu)
    {183, Key::f13},
    {184, Key::f14},
    {185, Key::f15},
    {186, Key::f16},
    {187, Key::f17},
    {188, Key::f18},
    {189, Key::f19},
    {190, Key::f20},          // F13..F20
    {121, Key::keypadComma},  // KPCOMMA
    {89, Key::jisUnderscore}, // RO (JIS underscore)
    {124, Key::jisYen},       // YEN
    {122, Key::kana},         // HANGEUL / kana
    {123, Key::eisu},         // HANJA / eisu
};

} // namespace

std::optional<Key> keyFromEvdev(unsigned int evdev) {
    for (const auto& [code, key] : table) {
        if (code == evdev) {
            return key;
        }
    }
    return std::nullopt;
}

std::optional<unsigned int> evdevFromKey(Key wanted) {
    for (const auto& [code, key] : table) {
        if (key == wanted) {
            return code;
        }
    }
    return std::nullopt;
}

std::vector<unsigned int> modifierCodes(std::uint64_t flags) {
    std::vector<unsigned int> keys;
    if (flags & ModifierFlag::control) {
        keys.push_back(29);
    }
    if (flags & ModifierFlag::option) {
        keys.push_back(56);
    }
    if (flags & ModifierFlag::shift) {
        keys.push_back(42);
    }
    if (flags & ModifierFlag::command) {
        keys.push_back(125);
    }
    return keys;
}

bool pressAll(const std::vector<unsigned int>& keys, const std::function<bool(unsigned int)>& press,
              const std::function<void(unsigned int)>& release) {
    std::size_t down = 0;
    while (down < keys.size() && press(keys[down])) {
        ++down;
    }
    if (down == keys.size()) {
        return true;
    }
    while (down > 0) {
        release(keys[--down]);
    }
    return false;
}

} // namespace orvane::linuxbackend::EvdevKeys
