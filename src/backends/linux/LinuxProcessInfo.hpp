#pragma once

#include "orvane/platform/ProcessInfo.hpp"

namespace orvane::linuxbackend {

class LinuxProcessInfo : public ProcessInfo {
public:
    std::string bundleIdentifier() const override;
    // The running executable (there is no bundle on Linux); when it was replaced while we ran,
    // the file now at its path.
    std::string bundlePath() const override;
    pid_t processID() const override;
    pid_t parentProcessID() const override;
    std::optional<std::string> executablePath(pid_t pid) const override;
    // Asked of the session bus, within half a second.
    std::optional<pid_t> instanceNameOwner() const override;
    // Double fork: the command is adopted by init and never becomes our zombie.
    bool spawnDetached(const std::vector<std::string>& argv,
                       std::string* failure = nullptr) override;
};

} // namespace orvane::linuxbackend
