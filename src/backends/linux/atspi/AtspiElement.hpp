#pragma once

#include "orvane/platform/AccessibilityService.hpp"

#include <sys/types.h>

typedef struct _AtspiAccessible AtspiAccessible;

namespace orvane::linuxbackend {

// An AT-SPI object behind the opaque element. Owns one reference, released with the element on
// the AT-SPI worker; only the worker uses the object itself.
class AtspiElement : public AccessibleElement {
public:
    // Takes over one reference to `accessible` (may be null: an application that was not found).
    AtspiElement(AtspiAccessible* accessible, pid_t pid, bool isApplication);
    ~AtspiElement() override;
    AtspiElement(const AtspiElement&) = delete;
    AtspiElement& operator=(const AtspiElement&) = delete;

    AtspiAccessible* accessible() const { return accessible_; }
    pid_t pid() const { return pid_; }
    bool isApplication() const { return isApplication_; }

private:
    AtspiAccessible* accessible_;
    pid_t pid_;
    bool isApplication_;
};

} // namespace orvane::linuxbackend
