#pragma once

#include "orvane/platform/Subscription.hpp"

#include <functional>

namespace orvane::linuxbackend {

// A change of "any input in the last N milliseconds", as the compositor's idle timer tells it.
struct ActivityChange {
    enum class Kind {
        resumed,     // input now, after N ms without any
        idled,       // no input for N ms
        unavailable, // nothing tells any more (the compositor went, or offers no idle timer)
    };
    Kind kind = Kind::resumed;
};

// Where activity comes from: the compositor's idle notifications, or a fake in tests.
class ActivitySource {
public:
    virtual ~ActivitySource() = default;
    // Main thread: `listener` hears each change on the main queue, never after the
    // subscription ends.
    virtual Subscription listen(std::function<void(const ActivityChange&)> listener) = 0;
    // The N of "no input for N ms".
    virtual unsigned timeoutMilliseconds() const = 0;
    // Any thread: whether anything tells activity now.
    virtual bool available() const { return true; }
};

} // namespace orvane::linuxbackend
