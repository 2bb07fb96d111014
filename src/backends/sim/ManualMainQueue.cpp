#include "backends/sim/ManualMainQueue.hpp"

#include <algorithm>
#include <utility>

namespace orvane::sim {

ManualMainQueue::ManualMainQueue(std::shared_ptr<SimClock> clock) : clock_(std::move(clock)) {}

void ManualMainQueue::post(Task task) {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(task));
}

TimerHandle ManualMainQueue::after(double seconds, Task task) {
    return addTimer(std::max(seconds, 0.0), 0, std::move(task));
}

TimerHandle ManualMainQueue::repeating(double interval, double /*tolerance*/, Task task) {
    // A zero interval would fire forever within one instant.
    return addTimer(std::max(interval, 1e-6), std::max(interval, 1e-6), std::move(task));
}

TimerHandle ManualMainQueue::addTimer(double delay, double interval, Task task) {
    auto handle = std::make_shared<Cancellation>();
    std::lock_guard lock(mutex_);
    timers_.push_back(
        {clock_->monotonic() + delay, interval, nextSequence_++, std::move(task), handle});
    return handle;
}

std::size_t ManualMainQueue::runPending() {
    std::size_t ran = 0;
    for (;;) {
        Task task;
        {
            std::lock_guard lock(mutex_);
            if (posted_.empty()) {
                return ran;
            }
            task = std::move(posted_.front());
            posted_.pop_front();
        }
        if (task) {
            task();
        }
        ++ran;
    }
}

bool ManualMainQueue::fireNextTimerDueBy(double deadline) {
    Timer timer;
    {
        std::lock_guard lock(mutex_);
        std::erase_if(timers_, [](const Timer& t) { return t.handle->isCancelled(); });
        auto next = std::min_element(timers_.begin(), timers_.end(), [](auto& a, auto& b) {
            return a.due < b.due || (a.due == b.due && a.sequence < b.sequence);
        });
        if (next == timers_.end() || next->due > deadline) {
            return false;
        }
        timer = *next;
        if (timer.interval > 0) {
            next->due += timer.interval;
            next->sequence = nextSequence_++;
        } else {
            timers_.erase(next);
        }
    }
    clock_->advance(timer.due - clock_->monotonic());
    if (!timer.handle->isCancelled() && timer.task) {
        timer.task();
    }
    return true;
}

void ManualMainQueue::advance(double seconds) {
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = false;
    }
    advanceTo(clock_->monotonic() + seconds);
}

void ManualMainQueue::runUntil(double deadline) {
    std::function<void(double)> runner;
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = false;
        runner = runner_;
    }
    if (runner) {
        runner(deadline);
    } else {
        advanceTo(deadline);
    }
}

bool ManualMainQueue::advanceTo(double deadline) {
    runPending();
    while (fireNextTimerDueBy(deadline)) {
        runPending();
        if (stopRequested()) {
            return false;
        }
    }
    clock_->advance(deadline - clock_->monotonic());
    runPending();
    return true;
}

void ManualMainQueue::setRunner(std::function<void(double deadline)> runner) {
    std::lock_guard lock(mutex_);
    runner_ = std::move(runner);
}

std::optional<double> ManualMainQueue::nextTimerDue() const {
    std::lock_guard lock(mutex_);
    std::optional<double> next;
    for (const auto& timer : timers_) {
        if (!timer.handle->isCancelled() && (!next || timer.due < *next)) {
            next = timer.due;
        }
    }
    return next;
}

bool ManualMainQueue::stopRequested() const {
    std::lock_guard lock(mutex_);
    return stopRequested_;
}

void ManualMainQueue::stop() {
    std::lock_guard lock(mutex_);
    stopRequested_ = true;
}

std::size_t ManualMainQueue::pendingCount() const {
    std::lock_guard lock(mutex_);
    return posted_.size();
}

std::size_t ManualMainQueue::activeTimerCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(
        timers_.begin(), timers_.end(), [](const Timer& t) { return !t.handle->isCancelled(); }));
}

} // namespace orvane::sim
