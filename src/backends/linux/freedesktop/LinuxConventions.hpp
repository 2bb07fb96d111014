#pragma once

#include "orvane/platform/DesktopConventions.hpp"

namespace orvane::linuxbackend {

// The Linux desktops' habits, under the application identifiers this backend reports (the
// desktop-entry id, else the GTK application id, else the window class): launchers, terminals
// with a default "focus the pane in that direction" chord on the arrow keys, and Control as the
// copy modifier.
namespace LinuxConventions {

DesktopConventions desktopConventions();

} // namespace LinuxConventions

} // namespace orvane::linuxbackend
