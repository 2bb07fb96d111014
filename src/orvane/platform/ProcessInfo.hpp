#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace orvane {

class ProcessInfo {
public:
    virtual ~ProcessInfo() = default;

    // The application's identifier in reverse-DNS form (`kApplicationIdentifier`).
    virtual std::string applicationId() const = 0;

    // The running executable, where a relaunch starts it again.
    virtual std::string ownExecutablePath() const = 0;

    virtual pid_t processID() const = 0;
    virtual pid_t parentProcessID() const = 0;

    // The executable of a process; nullopt when it is gone or not ours to inspect.
    virtual std::optional<std::string> executablePath(pid_t pid) const = 0;

    // The process that owns the application's single-instance name (`kApplicationIdentifier`
    // on the session bus), asked afresh; nullopt when nobody owns it or nobody can be asked.
    virtual std::optional<pid_t> instanceNameOwner() const = 0;

    // Starts `argv` detached from this process (it outlives us). Each argument reaches the
    // program as it stands: no shell ever reads it. False when it could not start, with the
    // reason in `failure` when one is given.
    virtual bool spawnDetached(const std::vector<std::string>& argv,
                               std::string* failure = nullptr) = 0;
};

} // namespace orvane
