#pragma once

#include <functional>
#include <string>

namespace orvane::linuxbackend {

// Reads one environment variable; null when it is not set.
using EnvironmentLookup = std::function<const char*(const char*)>;

// True in a Wayland session: a compositor announces itself (WAYLAND_DISPLAY), or the login
// manager says so (XDG_SESSION_TYPE=wayland). X11 clients still run there through the
// compositor's X server, which is why DISPLAY alone tells nothing.
bool isWaylandSession(const EnvironmentLookup& environment);

// The sentence that tells a user of a Wayland session why Orvane cannot work and what to do;
// empty in any other session.
std::string unsupportedSessionReason(const EnvironmentLookup& environment);

} // namespace orvane::linuxbackend
