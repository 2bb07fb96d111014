#pragma once

#include "orvane/platform/AccessibilityService.hpp"

typedef struct _AtspiAccessible AtspiAccessible;

namespace orvane::linuxbackend::AtspiRoles {

// The system's role for an AT-SPI role number (AtspiRole). Text widgets are told apart by their
// multi-line / single-line states.
AccessibleRole role(int atspiRole, bool multiLine, bool singleLine);

// Whether `accessible` is in `state` (an AtspiStateType); false when it cannot tell. Asks its
// program: the worker's to call.
bool hasState(AtspiAccessible* accessible, int state);

} // namespace orvane::linuxbackend::AtspiRoles
