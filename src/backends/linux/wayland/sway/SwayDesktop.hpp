#pragma once

#include "orvane/platform/Platform.hpp"

#include <string>

namespace orvane::linuxbackend {

// Fills `platform` with the services of sway (and compositors that speak its IPC), all through
// its IPC socket (its mainQueue, if set, delivers their events). False with the reason in
// `error` only when there is no way to find sway's socket.
bool installSwayDesktop(Platform& platform, std::string* error);

} // namespace orvane::linuxbackend
