#pragma once

#include "orvane/platform/Platform.hpp"

#include <string>

namespace orvane::linuxbackend {

// Fills `platform` with the services of a compositor without an IPC of its own (labwc,
// Wayfire), all over Orvane's own Wayland connection and the wlroots protocols (its mainQueue,
// if set, delivers their events). False with the reason in `error` only when there is no
// Wayland display to connect to.
bool installWlrootsDesktop(Platform& platform, std::string* error);

} // namespace orvane::linuxbackend
