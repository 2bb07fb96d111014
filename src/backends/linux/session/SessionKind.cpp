#include "backends/linux/session/SessionKind.hpp"

#include <strings.h>

namespace orvane::linuxbackend {
namespace {

bool isSet(const char* value) {
    return value != nullptr && *value != '\0';
}

bool equalsIgnoringCase(const char* value, const char* expected) {
    return value != nullptr && ::strcasecmp(value, expected) == 0;
}

} // namespace

bool isWaylandSession(const EnvironmentLookup& environment) {
    return isSet(environment("WAYLAND_DISPLAY")) ||
           equalsIgnoringCase(environment("XDG_SESSION_TYPE"), "wayland");
}

std::string unsupportedSessionReason(const EnvironmentLookup& environment) {
    if (!isWaylandSession(environment)) {
        return {};
    }
    // Wayland gives no program a say over another program's windows: no window list, no
    // activation, no global input. There is nothing to work around.
    return "This is a Wayland session, where Orvane cannot move keyboard focus between other "
           "programs' windows: to use Orvane, log out and choose an X11 session (often called "
           "\"Xorg\") on the login screen.";
}

} // namespace orvane::linuxbackend
