#pragma once

#include "orvane/platform/InputMonitor.hpp"

#include <map>
#include <vector>

namespace orvane::linuxbackend {

// Hands each event to the monitors whose mask takes it, on the calling (main) thread.
// `Monitor` has `mask` and `handler`.
template <typename Monitor>
void deliverToMonitors(const std::map<MonitorToken, Monitor>& monitors,
                       const std::vector<InputEvent>& events) {
    for (const auto& event : events) {
        // Looked up one by one: a handler may remove monitors.
        std::vector<MonitorToken> tokens;
        for (const auto& [token, monitor] : monitors) {
            if (monitor.mask & eventMask(event.type)) {
                tokens.push_back(token);
            }
        }
        for (auto token : tokens) {
            if (auto found = monitors.find(token); found != monitors.end()) {
                auto handler = found->second.handler;
                handler(event);
            }
        }
    }
}

} // namespace orvane::linuxbackend
