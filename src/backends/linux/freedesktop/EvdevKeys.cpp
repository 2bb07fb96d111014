#include "backends/linux/freedesktop/EvdevKeys.hpp"

#include "orvane/platform/WindowServer.hpp"

#include <utility>

namespace orvane::linuxbackend::EvdevKeys {
namespace {

// evdev code (linux/input-event-codes.h) -> system key number (US keyboard positions).
constexpr std::pair<unsigned int, std::uint16_t> table[] =
    {
        {1, 53}, // ESC
        {2, 18},    {3, 19},    {4, 20},    {5, 21},    {6, 23},
        {7, 22},    {8, 26},    {9, 28},    {10, 25},   {11, 29}, // 1..9, 0
        {12, 27},                                                 // MINUS
        {13, 24},                                                 // EQUAL
        {14, 51},                                                 // BACKSPACE
        {15, 48},                                                 // TAB
        {16, 12},   {17, 13},   {18, 14},   {19, 15},   {20, 17},
        {21, 16},   {22, 32},   {23, 34},   {24, 31},   {25, 35}, // Q W E R T Y U I O P
        {26, 33},                                                 // LEFTBRACE
        {27, 30},                                                 // RIGHTBRACE
        {28, 36},                                                 // ENTER
        {29, 59},                                                 // LEFTCTRL
        {30, 0},    {31, 1},    {32, 2},    {33, 3},    {34, 5},
        {35, 4},    {36, 38},   {37, 40},   {38, 37}, // A S D F G H J K L
        {39, 41},                                     // SEMICOLON
        {40, 39},                                     // APOSTROPHE
        {41, 50},                                     // GRAVE
        {42, 56},                                     // LEFTSHIFT
        {43, 42},                                     // BACKSLASH
        {44, 6},    {45, 7},    {46, 8},    {47, 9},    {48, 11},
        {49, 45},   {50, 46}, // Z X C V B N M
        {51, 43},             // COMMA
        {52, 47},             // DOT
        {53, 44},             // SLASH
        {54, 60},             // RIGHTSHIFT
        {55, 67},             // KPASTERISK
        {56, 58},             // LEFTALT
        {57, 49},             // SPACE
        {58, 57},             // CAPSLOCK
        {59, 122},  {60, 120},  {61, 99},   {62, 118},  {63, 96},
        {64, 97},   {65, 98},   {66, 100},  {67, 101},  {68, 109}, // F1..F10
        {69, 71},                                                  // NUMLOCK (keypad clear)
        {71, 89},   {72, 91},   {73, 92},   {74, 78},   {75, 86},
        {76, 87},   {77, 88},   {78, 69},   {79, 83},   {80, 84},
        {81, 85},   {82, 82},   {83, 65}, // keypad 7 8 9 - 4 5 6 + 1 2 3 0 .
        {86, 10},                         // 102ND (ISO section)
        {87, 103},  {88, 111},            // F11 F12
        {96, 76},                         // KPENTER
        {97, 62},                         // RIGHTCTRL
        {98, 75},                         // KPSLASH
        {100, 61},                        // RIGHTALT
        {102, 115},                       // HOME
        {103, 126},                       // UP
        {104, 116},                       // PAGEUP
        {105, 123},                       // LEFT
        {106, 124},                       // RIGHT
        {107, 119},                       // END
        {108, 125},                       // DOWN
        {109, 121},                       // PAGEDOWN
        {110, 114},                       // INSERT (help)
        {111, 117},                       // DELETE (forward delete)
        {113, 74},                        // MUTE
        {114, 73},                        // VOLUMEDOWN
        {115, 72},                        // VOLUMEUP
        {117, 81},                        // KPEQUAL
        {125, 55},                        // LEFTMETA
        {126, 54},                        // RIGHTMETA
        {127, 110},                       // COMPOSE (context menu)
        {183, 105}, {184, 107}, {185, 113}, {186, 106}, {187, 64},
        {188, 79},  {189, 80},  {190, 90}, // F13..F20
        {121, 95},                         // KPCOMMA
        {89, 94},                          // RO (JIS underscore)
        {124, 93},                         // YEN
        {122, 104},                        // HANGEUL / kana
        {123, 102},                        // HANJA / eisu
};

} // namespace

std::optional<std::uint16_t> systemKeyFromEvdev(unsigned int evdev) {
    for (const auto& [code, key] : table) {
        if (code == evdev) {
            return key;
        }
    }
    return std::nullopt;
}

std::optional<unsigned int> evdevFromSystem(std::uint16_t systemKey) {
    for (const auto& [code, key] : table) {
        if (key == systemKey) {
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
