#pragma once

#include "orvane/platform/PlatformWords.hpp"

namespace orvane::linuxbackend {

// How a Linux desktop with X11 and the accessibility bus is described to its user.
PlatformWords linuxWords();

} // namespace orvane::linuxbackend
