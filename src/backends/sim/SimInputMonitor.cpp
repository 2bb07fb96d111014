#include "backends/sim/SimInputMonitor.hpp"

#include <utility>

namespace orvane::sim {

std::optional<MonitorToken>
SimInputMonitor::addGlobalMonitor(std::uint64_t mask,
                                  std::function<void(const InputEvent&)> handler) {
    std::lock_guard lock(mutex_);
    if (installFails_) {
        return std::nullopt;
    }
    const MonitorToken token = nextToken_++;
    monitors_[token] = {mask, std::move(handler)};
    return token;
}

void SimInputMonitor::removeMonitor(MonitorToken token) {
    std::lock_guard delivery(deliveryMutex_);
    std::lock_guard lock(mutex_);
    monitors_.erase(token);
}

std::size_t SimInputMonitor::deliver(const InputEvent& event) {
    std::lock_guard delivery(deliveryMutex_);
    std::vector<std::function<void(const InputEvent&)>> handlers;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [token, monitor] : monitors_) {
            if (event.type >= 0 && event.type < 64 && (monitor.mask & eventMask(event.type))) {
                handlers.push_back(monitor.handler);
            }
        }
    }
    for (const auto& handler : handlers) {
        if (handler) {
            handler(event);
        }
    }
    return handlers.size();
}

void SimInputMonitor::setInstallFails(bool fails) {
    std::lock_guard lock(mutex_);
    installFails_ = fails;
}

std::size_t SimInputMonitor::monitorCount() const {
    std::lock_guard lock(mutex_);
    return monitors_.size();
}

std::vector<std::uint64_t> SimInputMonitor::masks() const {
    std::lock_guard lock(mutex_);
    std::vector<std::uint64_t> masks;
    for (const auto& [token, monitor] : monitors_) {
        masks.push_back(monitor.mask);
    }
    return masks;
}

} // namespace orvane::sim
