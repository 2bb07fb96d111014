#include "backends/sim/SimProcessInfo.hpp"

#include "orvane/platform/Platform.hpp"

namespace orvane::sim {

std::string SimProcessInfo::bundleIdentifier() const {
    return kApplicationIdentifier;
}

std::string SimProcessInfo::bundlePath() const {
    return "/opt/orvane/bin/orvane";
}

pid_t SimProcessInfo::parentProcessID() const {
    std::lock_guard lock(mutex_);
    return parent_;
}

std::optional<std::string> SimProcessInfo::executablePath(pid_t pid) const {
    std::lock_guard lock(mutex_);
    auto found = executables_.find(pid);
    if (found == executables_.end()) {
        return std::nullopt;
    }
    return found->second;
}

bool SimProcessInfo::spawnDetached(const std::vector<std::string>& argv) {
    std::lock_guard lock(mutex_);
    if (argv.empty()) {
        return false;
    }
    spawned_.push_back(argv);
    return true;
}

void SimProcessInfo::setParent(pid_t pid, std::string executable) {
    std::lock_guard lock(mutex_);
    parent_ = pid;
    executables_[pid] = std::move(executable);
}

std::vector<std::vector<std::string>> SimProcessInfo::spawned() const {
    std::lock_guard lock(mutex_);
    return spawned_;
}

} // namespace orvane::sim
