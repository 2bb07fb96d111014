#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

namespace orvane::linuxbackend::DesktopProcesses {

// The process is running (ours to signal or not).
bool exists(pid_t pid);

// The process's command name (/proc/PID/comm); nullopt when it is gone or unreadable.
std::optional<std::string> commandName(pid_t pid);

// Opens `url` with the user's handler (xdg-open), detached from this process. False when the
// opener could not be started or failed.
bool openWithUserHandler(const std::string& url);

} // namespace orvane::linuxbackend::DesktopProcesses
