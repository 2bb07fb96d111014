#include "backends/linux/runtime/ThreadSerialQueue.hpp"

#include <pthread.h>

namespace orvane::linuxbackend {

ThreadSerialQueue::ThreadSerialQueue(const std::string& label)
    : state_(std::make_shared<State>()), worker_([state = state_] { run(state); }) {
    // Thread names are limited to 15 characters; keep the distinctive end of the label.
    std::string name = label.size() > 15 ? label.substr(label.size() - 15) : label;
    pthread_setname_np(worker_.native_handle(), name.c_str());
}

ThreadSerialQueue::~ThreadSerialQueue() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        state_->tasks.clear();
    }
    state_->wake.notify_all();
    if (worker_.get_id() == std::this_thread::get_id()) {
        worker_.detach(); // destroyed by its own task: the worker ends after it returns
    } else {
        worker_.join();
    }
}

void ThreadSerialQueue::async(Task task) {
    // Once the task is queued it may run and release the last reference to this queue before
    // we wake the worker, so nothing of `this` is touched after the push.
    const auto state = state_;
    {
        std::lock_guard lock(state->mutex);
        if (state->stopping) {
            return;
        }
        state->tasks.push_back(std::move(task));
    }
    state->wake.notify_one();
}

void ThreadSerialQueue::run(const std::shared_ptr<State>& state) {
    for (;;) {
        Task task;
        {
            std::unique_lock lock(state->mutex);
            state->wake.wait(lock, [&] { return state->stopping || !state->tasks.empty(); });
            if (state->stopping) {
                return;
            }
            task = std::move(state->tasks.front());
            state->tasks.pop_front();
        }
        if (task) {
            task();
        }
    }
}

std::shared_ptr<SerialQueue> ThreadSerialQueueFactory::makeSerialQueue(const std::string& label) {
    return std::make_shared<ThreadSerialQueue>(label);
}

} // namespace orvane::linuxbackend
