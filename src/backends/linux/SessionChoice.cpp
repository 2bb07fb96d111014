#include "backends/linux/SessionChoice.hpp"

#include <sstream>
#include <strings.h>

namespace orvane::linuxbackend {
namespace {

bool isSet(const char* value) {
    return value != nullptr && *value != '\0';
}

bool equalsIgnoringCase(const std::string& value, const char* expected) {
    return ::strcasecmp(value.c_str(), expected) == 0;
}

bool listsDesktop(const char* desktops, const char* wanted) {
    std::istringstream list(isSet(desktops) ? desktops : "");
    std::string name;
    while (std::getline(list, name, ':')) {
        if (equalsIgnoringCase(name, wanted)) {
            return true;
        }
    }
    return false;
}

} // namespace

SessionChoice chooseSession(const EnvironmentLookup& environment) {
    const char* type = environment("XDG_SESSION_TYPE");
    const bool wayland = isSet(environment("WAYLAND_DISPLAY")) ||
                         (type != nullptr && equalsIgnoringCase(type, "wayland"));
    if (!wayland) {
        return {DesktopFamily::x11, {}};
    }
    const char* desktops = environment("XDG_CURRENT_DESKTOP");
    if (listsDesktop(desktops, "GNOME")) {
        return {DesktopFamily::gnome, {}};
    }
    if (listsDesktop(desktops, "KDE")) {
        return {DesktopFamily::kwin, {}};
    }
    // A sway session sets SWAYSOCK for its programs even where the login manager names no
    // desktop.
    if (listsDesktop(desktops, "sway") || isSet(environment("SWAYSOCK"))) {
        return {DesktopFamily::sway, {}};
    }
    // Each compositor keeps other programs' windows to itself; only the ones Orvane has a
    // helper inside can be worked with.
    const std::string name = isSet(desktops) ? desktops : "unknown";
    return {DesktopFamily::unsupported,
            "Orvane works in X11 sessions, in GNOME and KDE Plasma on Wayland, and in sway; this "
            "Wayland desktop (" +
                name +
                ") is not supported yet: to use Orvane here, log out and choose an X11 session "
                "(often called \"Xorg\") on the login screen."};
}

std::string unsupportedSessionReason(const EnvironmentLookup& environment) {
    return chooseSession(environment).reason;
}

} // namespace orvane::linuxbackend
