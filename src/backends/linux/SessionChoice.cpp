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

SessionChoice detectSession(const EnvironmentLookup& environment) {
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
    // Hyprland sets its instance's signature for its programs even where the login manager
    // names no desktop.
    if (listsDesktop(desktops, "Hyprland") || isSet(environment("HYPRLAND_INSTANCE_SIGNATURE"))) {
        return {DesktopFamily::hyprland, {}};
    }
    // These list every window and activate it for any client, through the wlroots protocols
    // (labwc names itself "labwc:wlroots").
    for (const char* name : {"labwc", "wayfire", "wlroots"}) {
        if (listsDesktop(desktops, name)) {
            return {DesktopFamily::wlroots, {}};
        }
    }
    // Each compositor keeps other programs' windows to itself; only the ones Orvane has a
    // helper inside, or a protocol it knows, can be worked with.
    const std::string name = isSet(desktops) ? desktops : "unknown";
    return {DesktopFamily::unsupported,
            "Orvane works in X11 sessions, in GNOME and KDE Plasma on Wayland, in sway, in "
            "Hyprland, and in labwc and Wayfire; this Wayland desktop (" +
                name +
                ") is not supported yet: to use Orvane here, log out and choose an X11 session "
                "(often called \"Xorg\") on the login screen."};
}

bool builtWith(DesktopFamily family) {
    switch (family) {
    case DesktopFamily::x11:
        return ORVANE_WITH_X11;
    case DesktopFamily::gnome:
    case DesktopFamily::kwin:
    case DesktopFamily::sway:
    case DesktopFamily::hyprland:
    case DesktopFamily::wlroots:
        return ORVANE_WITH_WAYLAND;
    case DesktopFamily::unsupported:
        break;
    }
    return false;
}

SessionChoice chooseSession(const EnvironmentLookup& environment) {
    auto session = detectSession(environment);
    if (session.family == DesktopFamily::unsupported || builtWith(session.family)) {
        return session;
    }
    if (session.family == DesktopFamily::x11) {
        return {DesktopFamily::unsupported,
                "This Orvane was built without X11 support, and this is an X11 session: install "
                "a build of Orvane made with it."};
    }
    return {DesktopFamily::unsupported,
            "This Orvane was built without Wayland support, and this is a Wayland session: "
            "install a build of Orvane made with it, or log out and choose an X11 session "
            "(often called \"Xorg\") on the login screen."};
}

std::vector<std::string> absentFeatures() {
    std::vector<std::string> absent;
    if (!ORVANE_WITH_X11) {
        absent.emplace_back("X11 support");
    }
    if (!ORVANE_WITH_WAYLAND) {
        absent.emplace_back("Wayland support (GNOME Shell, KWin, sway, Hyprland, labwc, Wayfire)");
    }
    if (!ORVANE_WITH_EVDEV) {
        absent.emplace_back("input device guards (evdev)");
    }
    return absent;
}

std::string unsupportedSessionReason(const EnvironmentLookup& environment) {
    return chooseSession(environment).reason;
}

} // namespace orvane::linuxbackend
