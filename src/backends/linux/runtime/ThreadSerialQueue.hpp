#pragma once

#include "orvane/platform/SerialQueue.hpp"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace orvane::linuxbackend {

// A serial queue on a worker thread of its own.
class ThreadSerialQueue : public SerialQueue {
public:
    explicit ThreadSerialQueue(const std::string& label);
    // Finishes the task in progress, drops the rest, joins the worker.
    ~ThreadSerialQueue() override;

    void async(Task task) override;

private:
    // Shared with the worker, so a task may drop the last reference to its own queue.
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<Task> tasks;
        bool stopping = false;
    };
    static void run(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state_;
    std::thread worker_;
};

class ThreadSerialQueueFactory : public SerialQueueFactory {
public:
    std::shared_ptr<SerialQueue> makeSerialQueue(const std::string& label) override;
};

} // namespace orvane::linuxbackend
