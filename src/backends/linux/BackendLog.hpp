#pragma once

#include <atomic>
#include <string>
#include <string_view>

namespace orvane::linuxbackend {

// An info line in the installed platform's log; nothing without one (a backend's worker may
// outlive the platform, and tests without a platform want no noise). Any thread.
void logInfo(std::string_view text);

// Info lines of one kind, only the first `limit` of them: a peer that keeps sending what is
// dropped must not fill the log. The last one logged says that more are not. Any thread.
class LimitedLog {
public:
    explicit LimitedLog(unsigned limit = 10) : limit_(limit) {}

    void say(const std::string& text) {
        const unsigned count = ++count_;
        if (count <= limit_) {
            logInfo(text + (count == limit_ ? " (further ones are not logged)" : ""));
        }
    }

private:
    const unsigned limit_;
    std::atomic<unsigned> count_{0};
};

} // namespace orvane::linuxbackend
