#include "backends/linux/atspi/AtspiElement.hpp"

#include <atspi/atspi.h>

namespace orvane::linuxbackend {

AtspiElement::AtspiElement(AtspiAccessible* accessible, pid_t pid, bool isApplication)
    : accessible_(accessible), pid_(pid), isApplication_(isApplication) {}

AtspiElement::~AtspiElement() {
    if (accessible_) {
        g_object_unref(accessible_);
    }
}

} // namespace orvane::linuxbackend
