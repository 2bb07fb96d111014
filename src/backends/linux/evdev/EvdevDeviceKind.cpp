#include "backends/linux/evdev/EvdevDeviceKind.hpp"

#include <cctype>
#include <linux/input.h>
#include <sstream>

namespace orvane::linuxbackend {

EvdevDeviceKind classifyDevice(const std::function<bool(unsigned, unsigned)>& has,
                               const std::function<bool(unsigned)>& property) {
    EvdevDeviceKind kind;
    // Power buttons, lid switches and media remotes declare keys too, but no letters.
    kind.keyboard =
        has(EV_KEY, KEY_Q) && has(EV_KEY, KEY_A) && has(EV_KEY, KEY_Z) && has(EV_KEY, KEY_SPACE);
    const bool mouse = has(EV_REL, REL_X) && has(EV_REL, REL_Y) && has(EV_KEY, BTN_LEFT);
    const bool touchpad = has(EV_ABS, ABS_X) && has(EV_ABS, ABS_Y) &&
                          has(EV_KEY, BTN_TOOL_FINGER) && !has(EV_KEY, BTN_TOOL_PEN) &&
                          !property(INPUT_PROP_DIRECT);
    kind.pointer = mouse || touchpad;
    return kind;
}

std::vector<bool> parseCapabilityMask(const std::string& text) {
    // The kernel's long is 64 bits wide on every platform Orvane builds for but 32-bit ones.
    constexpr unsigned wordBits = sizeof(unsigned long) * 8;
    std::vector<unsigned long long> words; // highest first
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        if (word.size() > wordBits / 4) {
            return {};
        }
        unsigned long long value = 0;
        for (const char digit : word) {
            if (!std::isxdigit(static_cast<unsigned char>(digit))) {
                return {};
            }
            const unsigned nibble = std::isdigit(static_cast<unsigned char>(digit))
                                        ? unsigned(digit - '0')
                                        : unsigned(std::tolower(digit) - 'a' + 10);
            value = (value << 4) | nibble;
        }
        words.push_back(value);
    }
    std::vector<bool> bits(words.size() * wordBits, false);
    for (std::size_t index = 0; index < words.size(); ++index) {
        const unsigned long long value = words[words.size() - 1 - index];
        for (unsigned bit = 0; bit < wordBits; ++bit) {
            if ((value >> bit) & 1ULL) {
                bits[index * wordBits + bit] = true;
            }
        }
    }
    return bits;
}

} // namespace orvane::linuxbackend
