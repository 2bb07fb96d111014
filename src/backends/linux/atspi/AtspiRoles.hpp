#pragma once

#include <string>

namespace orvane::linuxbackend::AtspiRoles {

// The system's role name ("AXTextArea", "AXScrollArea", ...) for an AT-SPI role number
// (AtspiRole). Text widgets are told apart by their multi-line / single-line states.
std::string roleName(int atspiRole, bool multiLine, bool singleLine);

} // namespace orvane::linuxbackend::AtspiRoles
