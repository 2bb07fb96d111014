#include "backends/linux/atspi/AtspiElement.hpp"

#include "backends/linux/atspi/AtspiWorker.hpp"

namespace orvane::linuxbackend {

AtspiElement::AtspiElement(AtspiAccessible* accessible, pid_t pid, bool isApplication)
    : accessible_(accessible), pid_(pid), isApplication_(isApplication) {}

AtspiElement::~AtspiElement() {
    AtspiWorker::release(accessible_); // libatspi's objects live on its thread
}

} // namespace orvane::linuxbackend
