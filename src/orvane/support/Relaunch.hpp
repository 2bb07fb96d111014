#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace orvane {

// Starting a fresh copy of Orvane and quitting this one: a running process often misses a
// permission granted after it started, a new one sees it.
namespace Relaunch {

// The flag that makes a new copy wait for the old one: "--after PID".
inline constexpr const char* afterFlag = "--after";

// How the application terminates; the application sets it once at start-up (its normal
// termination path, which stops the engine). Main thread.
void setTerminate(std::function<void()> terminate);

// Starts a new copy of this executable, detached, that waits for this process to end before it
// starts up, and then asks the application to terminate. When the copy cannot be started, the
// reason is logged ("relaunch failed: ...") and this process carries on unchanged. Main thread.
void now();

// The new copy's command line: `executable` as one argument, whatever characters it holds,
// then "--after" and `waitFor`.
std::vector<std::string> command(const std::string& executable, pid_t waitFor);

} // namespace Relaunch

} // namespace orvane
