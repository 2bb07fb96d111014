#include "backends/linux/dbus/BusLoop.hpp"

#include <systemd/sd-event.h>

#include <ctime>

namespace orvane::linuxbackend {

int BusLoop::run() {
    return sd_event_loop(event_);
}

void BusLoop::exit() {
    sd_event_exit(event_, 0);
}

std::uint64_t BusLoop::now() const {
    std::uint64_t now = 0;
    sd_event_now(event_, CLOCK_MONOTONIC, &now);
    return now;
}

} // namespace orvane::linuxbackend
