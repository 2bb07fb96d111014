#pragma once

#include "orvane/platform/ProcessInfo.hpp"

#include <map>
#include <mutex>

namespace orvane::sim {

class SimProcessInfo : public ProcessInfo {
public:
    std::string bundleIdentifier() const override;
    std::string bundlePath() const override;
    pid_t parentProcessID() const override;
    std::optional<std::string> executablePath(pid_t pid) const override;
    bool spawnDetached(const std::vector<std::string>& argv) override;

    void setParent(pid_t pid, std::string executable);
    // Every command line passed to `spawnDetached`, in order.
    std::vector<std::vector<std::string>> spawned() const;

private:
    mutable std::mutex mutex_;
    pid_t parent_ = 1;
    std::map<pid_t, std::string> executables_{{1, "/sbin/init"}};
    std::vector<std::vector<std::string>> spawned_;
};

} // namespace orvane::sim
