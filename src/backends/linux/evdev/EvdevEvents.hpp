#pragma once

#include "orvane/platform/InputMonitor.hpp"

#include <cstdint>
#include <linux/input.h>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace orvane::linuxbackend {

// The system's input events made from the kernel's records of keyboards and pointers, with
// modifier state of its own (the kernel keeps none across devices, and no keymap is needed for
// Shift, Control, Alt and Super):
// - a key going down is a keyDown with the modifiers held on any keyboard; so is each of its
//   repeats, as the X server's repeats are; a modifier key makes flagsChanged instead, and
//   never repeats; Caps Lock is the keyboards' LED, which the compositor keeps in step;
// - the left or right button going down is a click; other buttons and releases make nothing;
// - relative motion, or a touchpad's finger moving, is a move (dragged while a button is held),
//   at most one per `motionIntervalSeconds` of a device, as mice report a thousand times a
//   second; a wheel is a scroll, as often.
// Events carry no pointer position: the kernel knows none. Key numbers are only ever held in
// memory.
class EvdevEvents {
public:
    static constexpr double motionIntervalSeconds = 1.0 / 60;

    // What a device holds now, as read from the device itself.
    struct DeviceState {
        std::vector<std::uint16_t> keysDown; // keys and buttons (EV_KEY codes)
        std::optional<bool> capsLock;        // its LED, for keyboards that have one
    };

    // One record of `device`, in the order the device gave them.
    std::vector<InputEvent> feed(int device, const input_event& record);

    // The device's state replaces what was derived for it: on opening it (`countPresses`
    // false: what is held already was pressed before anyone looked), and after records were
    // lost (SYN_DROPPED; `countPresses` true: a key or button down now that was not before was
    // pressed meanwhile).
    std::vector<InputEvent> resync(int device, const DeviceState& state, bool countPresses);

    // The device went: nothing of it is held any more.
    std::vector<InputEvent> forget(int device);

    // The modifiers held on every device, in the system's masks.
    std::uint64_t flags() const;

private:
    struct Device {
        std::set<std::uint16_t> down;
        bool dropped = false; // records since SYN_DROPPED, to the next report, are incomplete
        bool moved = false;   // in the frame being reported
        bool scrolled = false;
        std::optional<double> lastMove;
        std::optional<double> lastScroll;
    };

    bool buttonHeld(std::uint16_t button) const;
    void noteFlagsChange(std::uint64_t before, std::vector<InputEvent>& events) const;
    void endFrame(Device& device, double time, std::vector<InputEvent>& events) const;

    std::map<int, Device> devices_;
    bool capsLock_ = false;
};

} // namespace orvane::linuxbackend
