#pragma once

#include "orvane/platform/Platform.hpp"

#include <string>

namespace orvane::linuxbackend {

// Fills `platform` with the services of KDE Plasma on Wayland (its mainQueue, if set, delivers
// their events): windows, outputs, activation and the cursor through Orvane's KWin script; the
// pause chord through KDE's global shortcuts; activity and the gaze dot through Orvane's own
// Wayland connection. False with the reason in `error` only when there is no session bus to
// reach KWin by.
bool installKWinDesktop(Platform& platform, std::string* error);

} // namespace orvane::linuxbackend
