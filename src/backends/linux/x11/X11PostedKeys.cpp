#include "backends/linux/x11/X11PostedKeys.hpp"

#include <algorithm>

namespace orvane::linuxbackend {

void X11PostedKeys::posted(unsigned int keycode, bool press, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    expire(now);
    entries_.push_back({keycode, press, now});
}

bool X11PostedKeys::takeRaw(unsigned int keycode, bool press, Clock::time_point now) {
    return take(keycode, press, now, [](Entry& entry) -> bool& { return entry.rawSeen; });
}

bool X11PostedKeys::takeStateChange(unsigned int keycode, bool press, Clock::time_point now) {
    return take(keycode, press, now, [](Entry& entry) -> bool& { return entry.stateSeen; });
}

template <typename Take>
bool X11PostedKeys::take(unsigned int keycode, bool press, Clock::time_point now, Take&& mark) {
    std::lock_guard lock(mutex_);
    expire(now);
    // The oldest match: the server delivers a key's events in the order they were posted.
    const auto found = std::find_if(entries_.begin(), entries_.end(), [&](Entry& entry) {
        return entry.keycode == keycode && entry.press == press && !mark(entry);
    });
    if (found == entries_.end()) {
        return false;
    }
    mark(*found) = true;
    // Only a modifier key changes the state as well; an entry waits for that until it expires.
    if (found->rawSeen && found->stateSeen) {
        entries_.erase(found);
    }
    return true;
}

void X11PostedKeys::expire(Clock::time_point now) {
    while (!entries_.empty() && now - entries_.front().at > lifetime) {
        entries_.pop_front();
    }
}

} // namespace orvane::linuxbackend
