#pragma once

#include <cstdint>

struct sd_event;

namespace orvane::linuxbackend {

// The worker's loop as its thread sees it; valid inside the worker's body only.
class BusLoop {
public:
    explicit BusLoop(sd_event* event) : event_(event) {}
    BusLoop(const BusLoop&) = delete;
    BusLoop& operator=(const BusLoop&) = delete;

    sd_event* event() const { return event_; }
    // Runs until the worker stops or `exit` is called; a negative errno when the loop failed.
    int run();
    void exit();
    // The loop's monotonic time, in microseconds.
    std::uint64_t now() const;

private:
    sd_event* event_;
};

} // namespace orvane::linuxbackend
