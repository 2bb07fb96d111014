#pragma once

#include "orvane/platform/Clock.hpp"
#include "orvane/platform/MainQueue.hpp"

#include <memory>

class QEventLoop;

namespace orvane::linuxbackend {

// The main queue is Qt's event loop on the thread that created the QCoreApplication, which
// must exist for as long as this queue is used.
class QtMainQueue : public MainQueue {
public:
    explicit QtMainQueue(std::shared_ptr<Clock> clock);
    ~QtMainQueue() override;

    void post(Task task) override;
    TimerHandle after(double seconds, Task task) override;
    TimerHandle repeating(double interval, double tolerance, Task task) override;
    void runUntil(double deadline) override;
    void stop() override;

private:
    std::shared_ptr<Clock> clock_;
    QEventLoop* loop_ = nullptr; // the loop of the innermost runUntil, main thread only
};

} // namespace orvane::linuxbackend
