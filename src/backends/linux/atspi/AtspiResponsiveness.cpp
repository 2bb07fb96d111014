#include "backends/linux/atspi/AtspiResponsiveness.hpp"

#include <algorithm>

namespace orvane::linuxbackend {

void AtspiResponsiveness::missed(pid_t pid, double now) {
    std::lock_guard lock(mutex_);
    auto [entry, added] = silent_.try_emplace(pid);
    if (added) {
        entry->second.nextProbe = now + firstProbeAfter;
    }
}

void AtspiResponsiveness::answered(pid_t pid) {
    std::lock_guard lock(mutex_);
    silent_.erase(pid);
}

void AtspiResponsiveness::forget(pid_t pid) {
    answered(pid);
}

bool AtspiResponsiveness::isSkipped(pid_t pid) const {
    std::lock_guard lock(mutex_);
    return silent_.contains(pid);
}

std::size_t AtspiResponsiveness::skippedCount() const {
    std::lock_guard lock(mutex_);
    return silent_.size();
}

std::vector<pid_t> AtspiResponsiveness::dueForProbe(double now) {
    std::lock_guard lock(mutex_);
    std::vector<pid_t> due;
    for (auto& [pid, silence] : silent_) {
        if (now >= silence.nextProbe) {
            due.push_back(pid);
            silence.nextProbe = now + silence.interval;
            silence.interval = std::min(silence.interval * 2, longestProbeInterval);
        }
    }
    return due;
}

} // namespace orvane::linuxbackend
