#pragma once

#include "backends/sim/SimClock.hpp"
#include "orvane/platform/MainQueue.hpp"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace orvane::sim {

// A main queue driven by hand and by the virtual clock. Posted tasks run on `runPending`;
// timers fire as `advance` moves the clock past their due times, in due order, each with the
// clock set to its due time. `runUntil` does the same unless a runner is set (the simulated
// desktop sets one that plays the camera and the serial queues forward as well).
class ManualMainQueue : public MainQueue {
public:
    explicit ManualMainQueue(std::shared_ptr<SimClock> clock);

    void post(Task task) override;
    TimerHandle after(double seconds, Task task) override;
    TimerHandle repeating(double interval, double tolerance, Task task) override;
    // Advances the virtual clock to `deadline`, running everything that falls due; through the
    // runner when one is set.
    void runUntil(double deadline) override;
    void stop() override;

    // Takes over `runUntil` (called with the deadline, after the stop request is cleared).
    void setRunner(std::function<void(double deadline)> runner);

    // Runs posted tasks and the timers due by `deadline` in due order, then sets the clock to
    // `deadline`. Returns false, leaving the clock where the last task ran, once `stop()` ends
    // it early.
    bool advanceTo(double deadline);
    // When the earliest live timer is due (monotonic); nullopt with none.
    std::optional<double> nextTimerDue() const;
    bool stopRequested() const;

    // Runs posted tasks, including those they post, until none is left. Returns how many ran.
    std::size_t runPending();

    // Moves the clock forward by `seconds`, running posted tasks and due timers on the way.
    void advance(double seconds);

    std::size_t pendingCount() const;
    std::size_t activeTimerCount() const;

private:
    struct Timer {
        double due = 0;
        double interval = 0; // 0: fires once
        std::uint64_t sequence = 0;
        Task task;
        TimerHandle handle;
    };

    TimerHandle addTimer(double delay, double interval, Task task);
    bool fireNextTimerDueBy(double deadline);

    std::shared_ptr<SimClock> clock_;
    mutable std::mutex mutex_;
    std::deque<Task> posted_;
    std::vector<Timer> timers_;
    std::uint64_t nextSequence_ = 0;
    bool stopRequested_ = false;
    std::function<void(double)> runner_;
};

} // namespace orvane::sim
