#pragma once

#include "orvane/platform/Clock.hpp"

namespace orvane::linuxbackend {

class LinuxClock : public Clock {
public:
    double now() const override;
    double monotonic() const override;
};

} // namespace orvane::linuxbackend
