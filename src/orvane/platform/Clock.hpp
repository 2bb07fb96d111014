#pragma once

namespace orvane {

// Time as the system sees it. Components never read the system clock or sleep directly, so
// the simulation can drive time by hand.
class Clock {
public:
    virtual ~Clock() = default;

    // Wall-clock time in seconds since the Unix epoch. Timestamps of poses and of input
    // activity use it.
    virtual double now() const = 0;

    // Monotonic time in seconds from an arbitrary origin; never jumps backwards. Throttles,
    // settle timers and deadlines use it.
    virtual double monotonic() const = 0;

    // "The distant past": far enough back that the time elapsed since it exceeds every
    // threshold, yet finite so that differences stay ordinary numbers.
    static constexpr double distantPast = -62135596800.0; // 0001-01-01T00:00:00Z
};

} // namespace orvane
