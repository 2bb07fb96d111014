#pragma once

#include "orvane/platform/Clock.hpp"

#include <atomic>

namespace orvane::sim {

// Virtual time: it moves only when a test moves it. Wall time starts at a fixed, realistic
// instant so timestamps look like the real thing.
class SimClock : public Clock {
public:
    static constexpr double initialWallTime = 1'800'000'000.0; // 2027-01-15
    static constexpr double initialMonotonicTime = 1'000.0;

    double now() const override { return initialWallTime + wallStep_.load() + elapsed_.load(); }
    double monotonic() const override { return initialMonotonicTime + elapsed_.load(); }

    // Moves both clocks forward. Negative amounts are ignored: time never runs backwards.
    void advance(double seconds);

    // Sets the wall clock forward or back by `seconds` without moving the monotonic clock, as
    // when the user or a time server corrects the system time.
    void stepWallClock(double seconds);

private:
    static void add(std::atomic<double>& value, double seconds);

    std::atomic<double> elapsed_{0.0};
    std::atomic<double> wallStep_{0.0};
};

} // namespace orvane::sim
