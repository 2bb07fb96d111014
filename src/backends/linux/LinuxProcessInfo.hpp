#pragma once

#include "orvane/platform/ProcessInfo.hpp"

#include <optional>
#include <string_view>

namespace orvane::linuxbackend {

class LinuxProcessInfo : public ProcessInfo {
public:
    std::string applicationId() const override;
    // The running executable; when it was replaced while we ran, the file now at its path.
    std::string ownExecutablePath() const override;
    pid_t processID() const override;
    pid_t parentProcessID() const override;
    std::optional<std::string> executablePath(pid_t pid) const override;
    // Asked of the session bus, within half a second.
    std::optional<pid_t> instanceNameOwner() const override;
    // Double fork: the command is adopted by init and never becomes our zombie.
    bool spawnDetached(const std::vector<std::string>& argv,
                       std::string* failure = nullptr) override;
};

// The start time field of a /proc/PID/stat text, in clock ticks since boot; nullopt when the
// text is not such a line. The command name may hold spaces and parentheses.
std::optional<double> startTicksFromStat(std::string_view stat);

// How long ago this process started, in seconds (to the kernel's clock tick); nullopt when
// /proc does not say.
std::optional<double> secondsSinceProcessStart();

} // namespace orvane::linuxbackend
