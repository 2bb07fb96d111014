#pragma once

#include <functional>
#include <string>
#include <vector>

namespace orvane::linuxbackend {

// What an input device is to Orvane, told by the event codes it declares.
struct EvdevDeviceKind {
    bool keyboard = false; // has letter keys and a space bar
    bool pointer = false;  // a mouse, trackball or trackpoint, or a touchpad
};

// `has(type, code)`: whether the device declares that code; `property(bit)`: its
// INPUT_PROP bits. Touch screens and tablets are no pointers: they move no pointer.
EvdevDeviceKind classifyDevice(const std::function<bool(unsigned, unsigned)>& has,
                               const std::function<bool(unsigned)>& property);

// One of sysfs's capability masks ("capabilities/key": hexadecimal words, the highest first,
// each as wide as the kernel's long) as a list of bits. Text that is no mask gives none.
std::vector<bool> parseCapabilityMask(const std::string& text);

} // namespace orvane::linuxbackend
