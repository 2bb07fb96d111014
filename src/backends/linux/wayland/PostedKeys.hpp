#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <limits>

namespace orvane::linuxbackend {

// When this process last posted a key or moved the pointer through the compositor. The
// compositor reports activity only as its idle time, which our own input resets like the
// user's: activity that soon after is taken for ours. Any thread.
class PostedKeys {
public:
    using Clock = std::chrono::steady_clock;
    // A posted key reaches the idle monitor within milliseconds; the window spans a few input
    // samples.
    static constexpr Clock::duration window = std::chrono::milliseconds(300);

    explicit PostedKeys(std::function<Clock::time_point()> now = &Clock::now)
        : now_(std::move(now)) {}

    // Called before each key event is posted, and before the pointer is warped.
    void posted() { last_.store(now_().time_since_epoch().count()); }
    void warped() { lastWarp_.store(now_().time_since_epoch().count()); }

    // Whether keyboard activity seen now may be a key we posted.
    bool isRecent() const { return recent(last_.load()); }
    // Whether keyboard activity that happened at `inputAt` (as the compositor dates it) may be
    // a key we posted: on a busy machine a sample may be read long after its input.
    bool explains(Clock::time_point inputAt) const {
        const auto last = last_.load();
        if (last == never) {
            return false;
        }
        // The compositor's idle time is in whole milliseconds, and the sample's arrival is
        // dated as it is read: the date may come out a little early.
        const auto since = inputAt - Clock::time_point(Clock::duration(last));
        return since >= -std::chrono::milliseconds(20) && since <= window;
    }
    // Whether activity of any device seen now may be ours (a key, or the pointer warped).
    bool isRecentInput() const { return isRecent() || recent(lastWarp_.load()); }

private:
    static constexpr Clock::rep never = std::numeric_limits<Clock::rep>::min();

    bool recent(Clock::rep last) const {
        if (last == never) {
            return false;
        }
        const auto since = now_() - Clock::time_point(Clock::duration(last));
        return since >= Clock::duration::zero() && since <= window;
    }

    std::function<Clock::time_point()> now_;
    std::atomic<Clock::rep> last_{never};
    std::atomic<Clock::rep> lastWarp_{never};
};

} // namespace orvane::linuxbackend
