#include "backends/linux/x11/X11Keys.hpp"

#include "backends/linux/freedesktop/EvdevKeys.hpp"
#include "orvane/platform/WindowServer.hpp"

#include <X11/X.h>

namespace orvane::linuxbackend::X11Keys {
namespace {

// X keycodes are evdev codes shifted by 8.
constexpr unsigned int evdevOffset = 8;

} // namespace

std::optional<Key> keyFromX(unsigned int xKeycode) {
    if (xKeycode <= evdevOffset) {
        return std::nullopt;
    }
    return EvdevKeys::keyFromEvdev(xKeycode - evdevOffset);
}

std::optional<unsigned int> xKeycodeFromKey(Key key) {
    const auto code = EvdevKeys::evdevFromKey(key);
    return code ? std::optional<unsigned int>(*code + evdevOffset) : std::nullopt;
}

std::uint64_t systemFlagsFromX(unsigned int xState) {
    std::uint64_t flags = 0;
    if (xState & ShiftMask) {
        flags |= ModifierFlag::shift;
    }
    if (xState & LockMask) {
        flags |= ModifierFlag::capsLock;
    }
    if (xState & ControlMask) {
        flags |= ModifierFlag::control;
    }
    if (xState & Mod1Mask) {
        flags |= ModifierFlag::option;
    }
    if (xState & Mod4Mask) {
        flags |= ModifierFlag::command;
    }
    return flags;
}

unsigned int xStateFromSystem(std::uint64_t flags) {
    unsigned int state = 0;
    if (flags & ModifierFlag::shift) {
        state |= ShiftMask;
    }
    if (flags & ModifierFlag::capsLock) {
        state |= LockMask;
    }
    if (flags & ModifierFlag::control) {
        state |= ControlMask;
    }
    if (flags & ModifierFlag::option) {
        state |= Mod1Mask;
    }
    if (flags & ModifierFlag::command) {
        state |= Mod4Mask;
    }
    return state;
}

std::vector<unsigned int> modifierKeycodes(std::uint64_t flags) {
    auto keys = EvdevKeys::modifierCodes(flags);
    for (auto& key : keys) {
        key += evdevOffset;
    }
    return keys;
}

} // namespace orvane::linuxbackend::X11Keys
