#pragma once

#include "orvane/platform/Platform.hpp"

#include <memory>
#include <string>

namespace orvane::linuxbackend {

struct LinuxPlatformResult {
    std::shared_ptr<Platform> services;
    // Why the desktop services (displays, windows, input, accessibility) are missing, when
    // they are: no X display to connect to, for instance. Empty when everything is there.
    std::string desktopProblem;
};

// The real services of a Linux desktop. A QCoreApplication (or QApplication) must exist
// first, on the thread that is to be the main thread.
LinuxPlatformResult makeLinuxPlatform();

// Whether an X server answers (DISPLAY): false in a build without X11.
bool canOpenX11Display();

} // namespace orvane::linuxbackend
