#pragma once

#include <atomic>
#include <memory>

namespace orvane {

// A shared flag that lets the owner of a scheduled task or timer call it off. The queue that
// runs the task checks it right before every run, so cancelling from the main thread takes
// effect before the next run even if the task is already queued.
class Cancellation {
public:
    void cancel() { cancelled_.store(true); }
    bool isCancelled() const { return cancelled_.load(); }

private:
    std::atomic<bool> cancelled_{false};
};

// Dropping the handle does not cancel: timers live until cancelled, like the platform's.
using TimerHandle = std::shared_ptr<Cancellation>;

} // namespace orvane
