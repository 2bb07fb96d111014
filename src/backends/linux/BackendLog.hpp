#pragma once

#include <string_view>

namespace orvane::linuxbackend {

// An info line in the installed platform's log; nothing without one (a backend's worker may
// outlive the platform, and tests without a platform want no noise). Any thread.
void logInfo(std::string_view text);

} // namespace orvane::linuxbackend
