#include "backends/linux/wayland/CompositorKeys.hpp"

#include "backends/posix/ChordText.hpp"
#include "orvane/platform/WindowServer.hpp"

#include <cctype>

namespace orvane::linuxbackend::CompositorKeys {
namespace {

struct NamedKey {
    const char* name; // as posix::keyName spells it
    std::uint32_t keyval;
    const char* accelerator;
};
// Keys whose name is not the character they type.
constexpr NamedKey namedKeys[] = {
    {"Space", 0x20, "space"},
    {"Return", 0xff0d, "Return"},
    {"Tab", 0xff09, "Tab"},
    {"Escape", 0xff1b, "Escape"},
    {"Backspace", 0xff08, "BackSpace"},
    {"Delete", 0xffff, "Delete"},
    {"Left", 0xff51, "Left"},
    {"Up", 0xff52, "Up"},
    {"Right", 0xff53, "Right"},
    {"Down", 0xff54, "Down"},
};

const NamedKey* named(const std::string& name) {
    for (const auto& key : namedKeys) {
        if (name == key.name) {
            return &key;
        }
    }
    return nullptr;
}

} // namespace

std::uint64_t systemFlagsFromClutter(std::uint32_t state) {
    std::uint64_t flags = 0;
    if (state & shiftBit) {
        flags |= ModifierFlag::shift;
    }
    if (state & lockBit) {
        flags |= ModifierFlag::capsLock;
    }
    if (state & controlBit) {
        flags |= ModifierFlag::control;
    }
    if (state & altBit) {
        flags |= ModifierFlag::option;
    }
    if (state & (superBit | superMask)) {
        flags |= ModifierFlag::command;
    }
    return flags;
}

std::optional<std::uint32_t> keyvalFromKey(Key key) {
    const auto name = posix::keyName(key);
    if (!name) {
        return std::nullopt;
    }
    if (name->size() == 1) {
        // Latin-1 keyvals are the characters themselves.
        return static_cast<std::uint32_t>(std::tolower(static_cast<unsigned char>((*name)[0])));
    }
    if (const auto* key = named(*name)) {
        return key->keyval;
    }
    return std::nullopt;
}

std::vector<std::uint32_t> modifierKeyvals(std::uint64_t flags) {
    std::vector<std::uint32_t> keyvals;
    if (flags & ModifierFlag::control) {
        keyvals.push_back(0xffe3); // Control_L
    }
    if (flags & ModifierFlag::option) {
        keyvals.push_back(0xffe9); // Alt_L
    }
    if (flags & ModifierFlag::shift) {
        keyvals.push_back(0xffe1); // Shift_L
    }
    if (flags & ModifierFlag::command) {
        keyvals.push_back(0xffeb); // Super_L
    }
    return keyvals;
}

std::optional<std::string> accelerator(Key key, std::uint64_t modifiers) {
    const auto name = posix::keyName(key);
    if (!name) {
        return std::nullopt;
    }
    std::string keyText;
    if (name->size() == 1) {
        keyText = static_cast<char>(std::tolower(static_cast<unsigned char>((*name)[0])));
    } else if (const auto* found = named(*name)) {
        keyText = found->accelerator;
    } else {
        return std::nullopt;
    }
    std::string text;
    if (modifiers & ModifierFlag::shift) {
        text += "<Shift>";
    }
    if (modifiers & ModifierFlag::control) {
        text += "<Control>";
    }
    if (modifiers & ModifierFlag::option) {
        text += "<Alt>";
    }
    if (modifiers & ModifierFlag::command) {
        text += "<Super>";
    }
    return text + keyText;
}

} // namespace orvane::linuxbackend::CompositorKeys
