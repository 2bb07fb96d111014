#pragma once

#include "orvane/platform/InputMonitor.hpp"

namespace orvane::linuxbackend {

// sway's IPC tells nothing of typing, the pointer or clicks: monitors are accepted and never
// called, and the guards built on them say they are missing. (Activity from ext-idle-notify or
// the opt-in input devices replaces this where they are there.)
class SwayInputMonitor : public InputMonitor {
public:
    std::optional<MonitorToken> addGlobalMonitor(std::uint64_t,
                                                 std::function<void(const InputEvent&)>) override {
        return nextToken_++;
    }
    void removeMonitor(MonitorToken) override {}
    std::string reducedGuards() const override {
        return "sway tells Orvane nothing of typing, the pointer or clicks, so none of them "
               "holds focus.";
    }

private:
    MonitorToken nextToken_ = 1;
};

} // namespace orvane::linuxbackend
