#include "backends/sim/SimProcessInfo.hpp"

#include "orvane/platform/Platform.hpp"

namespace orvane::sim {

std::string SimProcessInfo::applicationId() const {
    return kApplicationIdentifier;
}

std::string SimProcessInfo::ownExecutablePath() const {
    std::lock_guard lock(mutex_);
    return ownExecutablePath_;
}

void SimProcessInfo::setOwnExecutablePath(std::string path) {
    std::lock_guard lock(mutex_);
    ownExecutablePath_ = std::move(path);
}

pid_t SimProcessInfo::parentProcessID() const {
    std::lock_guard lock(mutex_);
    return parent_;
}

std::optional<std::string> SimProcessInfo::executablePath(pid_t pid) const {
    std::lock_guard lock(mutex_);
    auto found = executables_.find(pid);
    if (found == executables_.end() || found->second.empty()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<pid_t> SimProcessInfo::instanceNameOwner() const {
    std::lock_guard lock(mutex_);
    return instanceNameOwner_;
}

void SimProcessInfo::setInstanceNameOwner(std::optional<pid_t> pid, std::string executable) {
    std::lock_guard lock(mutex_);
    instanceNameOwner_ = pid;
    if (pid) {
        executables_[*pid] = std::move(executable);
    }
}

bool SimProcessInfo::spawnDetached(const std::vector<std::string>& argv, std::string* failure) {
    std::lock_guard lock(mutex_);
    if (argv.empty() || spawnFailure_) {
        if (failure) {
            *failure = spawnFailure_.value_or("nothing to start");
        }
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

void SimProcessInfo::setSpawnFailure(std::optional<std::string> reason) {
    std::lock_guard lock(mutex_);
    spawnFailure_ = std::move(reason);
}

std::vector<std::vector<std::string>> SimProcessInfo::spawned() const {
    std::lock_guard lock(mutex_);
    return spawned_;
}

} // namespace orvane::sim
