#pragma once

#include "orvane/platform/ProcessInfo.hpp"

#include <map>
#include <mutex>

namespace orvane::sim {

class SimProcessInfo : public ProcessInfo {
public:
    std::string applicationId() const override;
    std::string ownExecutablePath() const override;
    pid_t processID() const override { return ownID; }
    pid_t parentProcessID() const override;
    std::optional<std::string> executablePath(pid_t pid) const override;
    std::optional<pid_t> instanceNameOwner() const override;
    bool spawnDetached(const std::vector<std::string>& argv,
                       std::string* failure = nullptr) override;

    static constexpr pid_t ownID = 4242;

    void setOwnExecutablePath(std::string path);
    // `executable` empty: the owner's path cannot be read; nullopt: nobody owns the name.
    void setInstanceNameOwner(std::optional<pid_t> pid, std::string executable = {});
    // `executable` empty: the parent's path cannot be read.
    void setParent(pid_t pid, std::string executable);
    // While set, every spawn fails with this reason (and is not recorded).
    void setSpawnFailure(std::optional<std::string> reason);
    // Every command line passed to `spawnDetached`, in order.
    std::vector<std::vector<std::string>> spawned() const;

private:
    mutable std::mutex mutex_;
    std::string ownExecutablePath_ = "/opt/orvane/bin/orvane";
    pid_t parent_ = 1;
    std::map<pid_t, std::string> executables_{{1, "/sbin/init"}};
    std::vector<std::vector<std::string>> spawned_;
    std::optional<std::string> spawnFailure_;
    std::optional<pid_t> instanceNameOwner_;
};

} // namespace orvane::sim
