#pragma once

#include <string>

namespace orvane {

// Reading the keyboards and pointers themselves, where the desktop shows Orvane too little of
// other programs' input for the typing and shortcut guards and for learning from clicks. Only
// ever at the user's request: off until turned on.
class InputDeviceAccess {
public:
    struct Readability {
        bool readable = false;
        std::string reason; // when not: why, and how to allow it
    };

    virtual ~InputDeviceAccess() = default;

    // Asked afresh each time: the user may have been given the devices since.
    virtual Readability readability() const = 0;

    // Main thread. Takes effect at once, for monitors already installed too. False, with why in
    // `problem`, when the devices could not be read; it stays off then.
    virtual bool setEnabled(bool on, std::string* problem) = 0;
    virtual bool enabled() const = 0;
};

} // namespace orvane
