#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <limits>

namespace orvane::linuxbackend {

// When this process last posted a key through the shell. The shell reports keyboard activity
// only as its idle time, which our own keys reset like the user's: activity that soon after a
// posted key is taken for ours. Any thread.
class PostedKeys {
public:
    using Clock = std::chrono::steady_clock;
    // A posted key reaches the idle monitor within milliseconds; the window spans a few input
    // samples.
    static constexpr Clock::duration window = std::chrono::milliseconds(300);

    explicit PostedKeys(std::function<Clock::time_point()> now = &Clock::now)
        : now_(std::move(now)) {}

    // Called before each key event is posted.
    void posted() { last_.store(now_().time_since_epoch().count()); }

    // Whether keyboard activity seen now may be a key we posted.
    bool isRecent() const {
        const auto last = last_.load();
        if (last == never) {
            return false;
        }
        const auto since = now_() - Clock::time_point(Clock::duration(last));
        return since >= Clock::duration::zero() && since <= window;
    }

private:
    static constexpr Clock::rep never = std::numeric_limits<Clock::rep>::min();
    std::function<Clock::time_point()> now_;
    std::atomic<Clock::rep> last_{never};
};

} // namespace orvane::linuxbackend
