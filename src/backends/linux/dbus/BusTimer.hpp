#pragma once

#include "backends/linux/dbus/BusLoop.hpp"

#include <cstdint>
#include <functional>

struct sd_event_source;

namespace orvane::linuxbackend {

// A timer on a worker's loop, calling `fire` on its thread; off until armed.
class BusTimer {
public:
    BusTimer(BusLoop& loop, std::function<void()> fire);
    ~BusTimer();
    BusTimer(const BusTimer&) = delete;
    BusTimer& operator=(const BusTimer&) = delete;

    // Fires once, `microseconds` from now, replacing an earlier arming.
    void once(std::uint64_t microseconds);
    // Fires every `microseconds`, the first time that long from now.
    void every(std::uint64_t microseconds);
    void cancel();
    bool isArmed() const;

private:
    static int onTime(sd_event_source* source, std::uint64_t usec, void* userdata);
    void arm(std::uint64_t microseconds, int mode);

    BusLoop& loop_;
    std::function<void()> fire_;
    sd_event_source* source_ = nullptr;
    std::uint64_t period_ = 0; // 0: once
};

} // namespace orvane::linuxbackend
