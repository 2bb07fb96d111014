#pragma once

#include "orvane/platform/Cancellation.hpp"

#include <functional>

namespace orvane {

using Task = std::function<void()>;

// The one main thread on which all state of the system lives. Any thread may post to it;
// the tasks run one at a time, in the order posted, on the main thread.
class MainQueue {
public:
    virtual ~MainQueue() = default;

    // Runs `task` soon, after the tasks already posted.
    virtual void post(Task task) = 0;

    // Runs `task` once, `seconds` from now (monotonic), unless cancelled first.
    virtual TimerHandle after(double seconds, Task task) = 0;

    // Runs `task` every `interval` seconds until cancelled. `tolerance` is how late a tick may
    // come so the platform can coalesce wake-ups; ticks never come early.
    virtual TimerHandle repeating(double interval, double tolerance, Task task) = 0;

    // Runs the queue on the calling (main) thread until the monotonic `deadline` has passed
    // or `stop()` is called. For the command-line modes, which have no UI loop.
    virtual void runUntil(double deadline) = 0;

    // Ends a running `runUntil` early. Safe from any thread.
    virtual void stop() = 0;
};

} // namespace orvane
