#pragma once

#include <chrono>
#include <sys/types.h>

namespace orvane::linuxbackend {

// Blocks until process `pid` has ended (a zombie counts as ended) or `limit` has passed; true
// when it is gone. Any process may be watched, not only our own children.
bool waitForProcessExit(pid_t pid, std::chrono::milliseconds limit);

} // namespace orvane::linuxbackend
