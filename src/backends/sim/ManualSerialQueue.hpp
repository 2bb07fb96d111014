#pragma once

#include "orvane/platform/SerialQueue.hpp"

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orvane::sim {

// A serial queue that runs its tasks only when a test drains it, on the test's thread.
class ManualSerialQueue : public SerialQueue {
public:
    explicit ManualSerialQueue(std::string label) : label_(std::move(label)) {}

    void async(Task task) override;

    // Runs queued tasks, including those they enqueue, until none is left.
    std::size_t drain();
    std::size_t pendingCount() const;
    const std::string& label() const { return label_; }

private:
    std::string label_;
    mutable std::mutex mutex_;
    std::deque<Task> tasks_;
};

class ManualSerialQueueFactory : public SerialQueueFactory {
public:
    std::shared_ptr<SerialQueue> makeSerialQueue(const std::string& label) override;

    // Every queue made so far, oldest first.
    std::vector<std::shared_ptr<ManualSerialQueue>> queues() const;
    // Drains every queue until all are empty.
    std::size_t drainAll();

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<ManualSerialQueue>> queues_;
};

} // namespace orvane::sim
