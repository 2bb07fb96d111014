#include "backends/sim/ManualSerialQueue.hpp"

namespace orvane::sim {

void ManualSerialQueue::async(Task task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
}

std::size_t ManualSerialQueue::drain() {
    std::size_t ran = 0;
    for (;;) {
        Task task;
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty()) {
                return ran;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        if (task) {
            task();
        }
        ++ran;
    }
}

std::size_t ManualSerialQueue::pendingCount() const {
    std::lock_guard lock(mutex_);
    return tasks_.size();
}

std::shared_ptr<SerialQueue> ManualSerialQueueFactory::makeSerialQueue(const std::string& label) {
    auto queue = std::make_shared<ManualSerialQueue>(label);
    std::lock_guard lock(mutex_);
    queues_.push_back(queue);
    return queue;
}

std::vector<std::shared_ptr<ManualSerialQueue>> ManualSerialQueueFactory::queues() const {
    std::lock_guard lock(mutex_);
    return queues_;
}

std::size_t ManualSerialQueueFactory::drainAll() {
    std::size_t total = 0;
    for (;;) {
        std::size_t ran = 0;
        for (auto& queue : queues()) {
            ran += queue->drain();
        }
        if (ran == 0) {
            return total;
        }
        total += ran;
    }
}

} // namespace orvane::sim
