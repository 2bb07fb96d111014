#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>

namespace orvane::linuxbackend {

// The device nodes this process holds: one session per device at a time. A camera allows one
// streaming user, and a session that is stopping needs a moment to let go; the next one waits
// for that instead of failing as busy.
class DeviceRegistry {
public:
    static DeviceRegistry& processWide();

    // Claims `path`, waiting up to `timeout` for its holder to release it. False on timeout.
    bool claim(const std::string& path, std::chrono::milliseconds timeout);
    void release(const std::string& path);

private:
    std::mutex mutex_;
    std::condition_variable released_;
    std::set<std::string> held_;
};

} // namespace orvane::linuxbackend
