#pragma once

#include "orvane/platform/InputMonitor.hpp"

#include <map>
#include <mutex>
#include <vector>

namespace orvane::sim {

// Global input monitors, fed by the test: `deliver` hands an event to every monitor whose mask
// has the event's type, as the platform would, from whichever thread calls it.
class SimInputMonitor : public InputMonitor {
public:
    std::optional<MonitorToken>
    addGlobalMonitor(std::uint64_t mask, std::function<void(const InputEvent&)> handler) override;
    // Waits for a delivery in progress, so no handler call for the monitor starts (or is still
    // running) once this returns. Handlers must not call it themselves.
    void removeMonitor(MonitorToken token) override;

    // Calls the matching handlers in the order they were installed; returns how many.
    std::size_t deliver(const InputEvent& event);

    // While set, installing a monitor fails.
    void setInstallFails(bool fails);
    std::size_t monitorCount() const;
    // The masks of the installed monitors, oldest first.
    std::vector<std::uint64_t> masks() const;

private:
    struct Monitor {
        std::uint64_t mask = 0;
        std::function<void(const InputEvent&)> handler;
    };

    std::mutex deliveryMutex_; // held for a whole delivery; taken before mutex_
    mutable std::mutex mutex_;
    std::map<MonitorToken, Monitor> monitors_;
    MonitorToken nextToken_ = 1;
    bool installFails_ = false;
};

} // namespace orvane::sim
