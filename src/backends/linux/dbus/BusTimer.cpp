#include "backends/linux/dbus/BusTimer.hpp"

#include "backends/linux/BackendLog.hpp"

#include <systemd/sd-event.h>

#include <cstring>
#include <ctime>
#include <string>
#include <utility>

namespace orvane::linuxbackend {

BusTimer::BusTimer(BusLoop& loop, std::function<void()> fire)
    : loop_(loop), fire_(std::move(fire)) {}

BusTimer::~BusTimer() {
    sd_event_source_disable_unref(source_);
}

void BusTimer::arm(std::uint64_t microseconds, int mode) {
    const std::uint64_t at = loop_.now() + microseconds;
    if (!source_) {
        const int r = sd_event_add_time(loop_.event(), &source_, CLOCK_MONOTONIC, at, 0,
                                        &BusTimer::onTime, this);
        if (r < 0) {
            source_ = nullptr;
            logInfo(std::string("a D-Bus worker's timer cannot be set: ") + std::strerror(-r));
            return;
        }
    } else {
        sd_event_source_set_time(source_, at);
    }
    sd_event_source_set_enabled(source_, mode);
}

void BusTimer::once(std::uint64_t microseconds) {
    period_ = 0;
    arm(microseconds, SD_EVENT_ONESHOT);
}

void BusTimer::every(std::uint64_t microseconds) {
    period_ = microseconds;
    arm(microseconds, SD_EVENT_ONESHOT);
}

void BusTimer::cancel() {
    if (source_) {
        sd_event_source_set_enabled(source_, SD_EVENT_OFF);
    }
}

bool BusTimer::isArmed() const {
    int enabled = SD_EVENT_OFF;
    return source_ && sd_event_source_get_enabled(source_, &enabled) >= 0 &&
           enabled != SD_EVENT_OFF;
}

int BusTimer::onTime(sd_event_source*, std::uint64_t, void* userdata) {
    auto& timer = *static_cast<BusTimer*>(userdata);
    if (timer.period_ > 0) {
        // Rearmed first, so that `fire` may cancel or rearm it.
        timer.arm(timer.period_, SD_EVENT_ONESHOT);
    }
    timer.fire_();
    return 0;
}

} // namespace orvane::linuxbackend
