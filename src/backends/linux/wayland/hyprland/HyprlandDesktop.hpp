#pragma once

#include "orvane/platform/Platform.hpp"

#include <string>

namespace orvane::linuxbackend {

// Fills `platform` with the services of Hyprland, through its IPC sockets and Orvane's own
// Wayland connection (its mainQueue, if set, delivers their events). False with the reason in
// `error` only when there is no way to find Hyprland's sockets.
bool installHyprlandDesktop(Platform& platform, std::string* error);

} // namespace orvane::linuxbackend
