#pragma once

#include "orvane/platform/MainQueue.hpp"

#include <memory>
#include <string>

namespace orvane {

// A queue of its own for work that must stay off the main thread (camera frames, face
// detection). Tasks run one at a time, in the order enqueued, never on the main thread in the
// real backend. Destroying the queue finishes the task in progress and drops the rest.
class SerialQueue {
public:
    virtual ~SerialQueue() = default;
    virtual void async(Task task) = 0;
};

class SerialQueueFactory {
public:
    virtual ~SerialQueueFactory() = default;
    // `label` names the queue in diagnostics and thread names (e.g. "<app id>.camera").
    virtual std::shared_ptr<SerialQueue> makeSerialQueue(const std::string& label) = 0;
};

} // namespace orvane
