#pragma once

#include <functional>
#include <string>
#include <vector>

namespace orvane::linuxbackend {

// Reads one environment variable; null when it is not set.
using EnvironmentLookup = std::function<const char*(const char*)>;

// Which backend reaches this session's desktop.
enum class DesktopFamily {
    x11,         // an X11 session: Orvane talks to the X server itself
    gnome,       // GNOME Shell on Wayland, through Orvane's extension of the shell
    kwin,        // KDE Plasma's KWin on Wayland, through Orvane's KWin script
    sway,        // sway, through its IPC socket
    hyprland,    // Hyprland, through its IPC sockets
    wlroots,     // labwc, Wayfire: through the wlroots protocols any client may use
    unsupported, // another Wayland compositor
};

struct SessionChoice {
    DesktopFamily family = DesktopFamily::x11;
    // For `unsupported`: one sentence naming the desktops Orvane works with and what to do.
    std::string reason;
};

// Which desktop the session is, whether or not this build reaches it. A Wayland session is one
// where a compositor announces itself (WAYLAND_DISPLAY) or the login manager says so
// (XDG_SESSION_TYPE=wayland); X11 programs still run there through the compositor's X server, so
// DISPLAY alone tells nothing, and Orvane started under XWayland still takes the Wayland backend.
// The desktop is read from XDG_CURRENT_DESKTOP, a colon list ("ubuntu:GNOME").
SessionChoice detectSession(const EnvironmentLookup& environment);

// Whether this build has the backend of `family` (never for `unsupported`).
bool builtWith(DesktopFamily family);

// Chosen once at start: the session's desktop where this build reaches it; otherwise
// `unsupported`, with a reason that names what the build was made without.
SessionChoice chooseSession(const EnvironmentLookup& environment);

// What this build was made without, one phrase each ("Wayland support"): empty for a full
// build.
std::vector<std::string> absentFeatures();

// The choice's reason alone: empty where Orvane can work.
std::string unsupportedSessionReason(const EnvironmentLookup& environment);

} // namespace orvane::linuxbackend
