#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace orvane::linuxbackend {

class AtspiBusStatus;

// Programs whose toolkit puts its widgets on the accessibility bus only while the desktop says
// a screen reader runs: Qt decides from ScreenReaderEnabled, not from the IsEnabled switch
// Orvane offers, unless the program's environment forces it on. While such a program hides
// them, its password fields cannot be seen, and Settings and --diagnose name it.
class ScreenReaderToolkits {
public:
    // `proc` is where /proc is (tests point it at a tree of their own).
    explicit ScreenReaderToolkits(std::string proc = "/proc");
    ~ScreenReaderToolkits();

    // As below, the screen reader switch asked on the session bus (bounded in time).
    bool hidesFields(pid_t pid) const;

    // True when `pid` runs such a toolkit, its environment does not force accessibility on, and
    // `screenReaderOn` (asked only then) says no screen reader runs.
    bool hidesFields(pid_t pid, const std::function<bool()>& screenReaderOn) const;

    // Whether a /proc/PID/maps text maps Qt 5's or Qt 6's GUI library.
    static bool mapsQtGui(std::string_view maps);
    // Whether a /proc/PID/environ text (NUL-separated) forces Qt's accessibility on.
    static bool forcesAccessibility(std::string_view environment);

private:
    std::string proc_;
    std::unique_ptr<AtspiBusStatus> status_;
};

} // namespace orvane::linuxbackend
