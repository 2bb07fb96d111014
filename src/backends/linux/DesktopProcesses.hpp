#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace orvane::linuxbackend::DesktopProcesses {

// The process is running (ours to signal or not).
bool exists(pid_t pid);

// The process's command name (/proc/PID/comm); nullopt when it is gone or unreadable.
std::optional<std::string> commandName(pid_t pid);

// Opens `url` with the user's handler (xdg-open), detached from this process. False when the
// opener could not be started or failed.
bool openWithUserHandler(const std::string& url);

// What a program run by `runBounded` did.
struct BoundedRun {
    std::optional<std::string> output; // what it printed, when it exited with 0 in time
    bool timedOut = false;             // it was killed at the deadline
};

// Runs `argv` (found on PATH, no shell) as this user, input and errors on /dev/null, and
// waits for it at most `timeout`: killed when it takes longer or prints more than `maxBytes`.
BoundedRun runBounded(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                      std::size_t maxBytes);

} // namespace orvane::linuxbackend::DesktopProcesses
