#pragma once

#include "backends/linux/wayland/LinkBridge.hpp"
#include "orvane/platform/Platform.hpp"

#include <string>

namespace orvane::linuxbackend {

// Fills `platform` with the services of a compositor without an IPC of its own (labwc,
// Wayfire), all over Orvane's own Wayland connection and the wlroots protocols (its mainQueue,
// if set, delivers their events). False with the reason in `error` only when there is no
// Wayland display to connect to.
bool installWlrootsDesktop(Platform& platform, std::string* error);

class WlrootsLink;

// What the desktop says of the list the link reads, once the compositor has answered: the
// bridge's words, and the sentence said with the reduced guards (what those protocols leave
// out).
LinkBridge::Words wlrootsBridgeWords(const WlrootsLink& link, const std::string& desktop);
std::string wlrootsLimit(const WlrootsLink& link);

} // namespace orvane::linuxbackend
