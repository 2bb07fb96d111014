#pragma once

#include <chrono>
#include <deque>
#include <mutex>

namespace orvane::linuxbackend {

// The key events this process posted through XTest. The server hands them to every input
// monitor like the user's own keys; the monitor asks here to tell them apart. Any thread.
class X11PostedKeys {
public:
    using Clock = std::chrono::steady_clock;
    // A posted key's events reach the monitor within milliseconds; one that never came (a key
    // the server refused) must not hide a later key of the user's.
    static constexpr Clock::duration lifetime = std::chrono::seconds(2);

    // Called before the event is sent.
    void posted(unsigned int keycode, bool press, Clock::time_point now = Clock::now());

    // True, once, for the raw event of a key we posted.
    bool takeRaw(unsigned int keycode, bool press, Clock::time_point now = Clock::now());
    // True, once, for the modifier-state change a posted modifier key made.
    bool takeStateChange(unsigned int keycode, bool press, Clock::time_point now = Clock::now());

private:
    struct Entry {
        unsigned int keycode;
        bool press;
        Clock::time_point at;
        bool rawSeen = false;
        bool stateSeen = false;
    };
    template <typename Take>
    bool take(unsigned int keycode, bool press, Clock::time_point now, Take&& mark);
    void expire(Clock::time_point now);

    std::mutex mutex_;
    std::deque<Entry> entries_;
};

} // namespace orvane::linuxbackend
