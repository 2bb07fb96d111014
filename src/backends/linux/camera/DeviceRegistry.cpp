#include "backends/linux/camera/DeviceRegistry.hpp"

namespace orvane::linuxbackend {

DeviceRegistry& DeviceRegistry::processWide() {
    static DeviceRegistry registry;
    return registry;
}

bool DeviceRegistry::claim(const std::string& path, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!released_.wait_for(lock, timeout, [&] { return held_.count(path) == 0; })) {
        return false;
    }
    held_.insert(path);
    return true;
}

void DeviceRegistry::release(const std::string& path) {
    {
        std::lock_guard lock(mutex_);
        held_.erase(path);
    }
    released_.notify_all();
}

} // namespace orvane::linuxbackend
