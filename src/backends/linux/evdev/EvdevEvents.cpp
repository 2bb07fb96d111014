#include "backends/linux/evdev/EvdevEvents.hpp"

#include "backends/linux/freedesktop/EvdevKeys.hpp"
#include "orvane/platform/WindowServer.hpp"

namespace orvane::linuxbackend {
namespace {

std::uint64_t modifierOf(std::uint16_t code) {
    switch (code) {
    case KEY_LEFTSHIFT:
    case KEY_RIGHTSHIFT:
        return ModifierFlag::shift;
    case KEY_LEFTCTRL:
    case KEY_RIGHTCTRL:
        return ModifierFlag::control;
    case KEY_LEFTALT:
    case KEY_RIGHTALT:
        return ModifierFlag::option;
    case KEY_LEFTMETA:
    case KEY_RIGHTMETA:
        return ModifierFlag::command;
    default:
        return 0;
    }
}

bool isModifierKey(std::uint16_t code) {
    return modifierOf(code) != 0 || code == KEY_CAPSLOCK;
}

bool isMouseButton(std::uint16_t code) {
    return code >= BTN_MOUSE && code < BTN_JOYSTICK;
}

double secondsOf(const input_event& record) {
    return static_cast<double>(record.input_event_sec) +
           static_cast<double>(record.input_event_usec) / 1e6;
}

// Due when none came before, the interval has passed, or the clock went back.
bool due(const std::optional<double>& last, double now) {
    return !last || now - *last >= EvdevEvents::motionIntervalSeconds || now < *last;
}

} // namespace

std::uint64_t EvdevEvents::flags() const {
    std::uint64_t flags = capsLock_ ? ModifierFlag::capsLock : 0;
    for (const auto& [id, device] : devices_) {
        for (const auto code : device.down) {
            flags |= modifierOf(code);
        }
    }
    return flags;
}

bool EvdevEvents::buttonHeld(std::uint16_t button) const {
    for (const auto& [id, device] : devices_) {
        if (device.down.count(button)) {
            return true;
        }
    }
    return false;
}

void EvdevEvents::noteFlagsChange(std::uint64_t before, std::vector<InputEvent>& events) const {
    const std::uint64_t now = flags();
    if (now != before) {
        events.push_back({InputEventType::flagsChanged, now});
    }
}

void EvdevEvents::endFrame(Device& device, double time, std::vector<InputEvent>& events) const {
    if (device.moved && due(device.lastMove, time)) {
        device.lastMove = time;
        const int type = buttonHeld(BTN_LEFT)    ? InputEventType::leftMouseDragged
                         : buttonHeld(BTN_RIGHT) ? InputEventType::rightMouseDragged
                                                 : InputEventType::mouseMoved;
        events.push_back({type, flags()});
    }
    if (device.scrolled && due(device.lastScroll, time)) {
        device.lastScroll = time;
        events.push_back({InputEventType::scrollWheel, flags()});
    }
    device.moved = false;
    device.scrolled = false;
}

std::vector<InputEvent> EvdevEvents::feed(int id, const input_event& record) {
    std::vector<InputEvent> events;
    Device& device = devices_[id];
    if (record.type == EV_SYN && record.code == SYN_DROPPED) {
        device.dropped = true;
        device.moved = device.scrolled = false;
        return events;
    }
    if (device.dropped) {
        if (record.type == EV_SYN && record.code == SYN_REPORT) {
            device.dropped = false;
        }
        return events;
    }
    switch (record.type) {
    case EV_SYN:
        if (record.code == SYN_REPORT) {
            endFrame(device, secondsOf(record), events);
        }
        break;
    case EV_KEY: {
        const std::uint64_t before = flags();
        if (record.value == 0) {
            device.down.erase(record.code);
            noteFlagsChange(before, events);
            break;
        }
        const bool repeat = record.value == 2;
        if (!repeat) {
            device.down.insert(record.code);
        }
        if (isMouseButton(record.code)) {
            if (!repeat && record.code == BTN_LEFT) {
                events.push_back({InputEventType::leftMouseDown, before});
            } else if (!repeat && record.code == BTN_RIGHT) {
                events.push_back({InputEventType::rightMouseDown, before});
            }
        } else if (isModifierKey(record.code)) {
            noteFlagsChange(before, events);
        } else if (const auto key = EvdevKeys::keyFromEvdev(record.code)) {
            events.push_back({InputEventType::keyDown, before, *key});
        }
        break;
    }
    case EV_REL:
        if (record.value != 0) {
            if (record.code == REL_X || record.code == REL_Y) {
                device.moved = true;
            } else if (record.code == REL_WHEEL || record.code == REL_HWHEEL ||
                       record.code == REL_WHEEL_HI_RES || record.code == REL_HWHEEL_HI_RES) {
                device.scrolled = true;
            }
        }
        break;
    case EV_ABS:
        if (record.code == ABS_X || record.code == ABS_Y || record.code == ABS_MT_POSITION_X ||
            record.code == ABS_MT_POSITION_Y) {
            device.moved = true;
        }
        break;
    case EV_LED:
        if (record.code == LED_CAPSL) {
            const std::uint64_t before = flags();
            capsLock_ = record.value != 0;
            noteFlagsChange(before, events);
        }
        break;
    default:
        break;
    }
    return events;
}

std::vector<InputEvent> EvdevEvents::resync(int id, const DeviceState& state, bool countPresses) {
    std::vector<InputEvent> events;
    const std::uint64_t before = flags();
    Device& device = devices_[id];
    const std::set<std::uint16_t> was = std::move(device.down);
    device.down = std::set<std::uint16_t>(state.keysDown.begin(), state.keysDown.end());
    device.dropped = false;
    device.moved = device.scrolled = false;
    if (state.capsLock) {
        capsLock_ = *state.capsLock;
    }
    noteFlagsChange(before, events);
    if (!countPresses) {
        return events;
    }
    const std::uint64_t now = flags();
    for (const auto code : device.down) {
        if (was.count(code)) {
            continue;
        }
        if (code == BTN_LEFT) {
            events.push_back({InputEventType::leftMouseDown, now});
        } else if (code == BTN_RIGHT) {
            events.push_back({InputEventType::rightMouseDown, now});
        } else if (isModifierKey(code) || isMouseButton(code)) {
            continue;
        } else if (const auto key = EvdevKeys::keyFromEvdev(code)) {
            events.push_back({InputEventType::keyDown, now, *key});
        }
    }
    return events;
}

std::vector<InputEvent> EvdevEvents::forget(int id) {
    std::vector<InputEvent> events;
    const std::uint64_t before = flags();
    devices_.erase(id);
    noteFlagsChange(before, events);
    return events;
}

} // namespace orvane::linuxbackend
