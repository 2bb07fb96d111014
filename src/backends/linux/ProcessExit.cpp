#include "backends/linux/ProcessExit.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <poll.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

std::chrono::milliseconds remaining(std::chrono::steady_clock::time_point deadline) {
    // Rounded up: a wait must not end before its deadline.
    return std::chrono::ceil<std::chrono::milliseconds>(deadline -
                                                        std::chrono::steady_clock::now());
}

// Without pidfds (kernels before 5.3): ask every 20 ms whether the process is still there.
bool pollForExit(pid_t pid, std::chrono::steady_clock::time_point deadline) {
    while (::kill(pid, 0) == 0 || errno == EPERM) {
        if (remaining(deadline).count() <= 0) {
            return false;
        }
        const timespec pause{0, 20'000'000};
        ::nanosleep(&pause, nullptr);
    }
    return true;
}

} // namespace

bool waitForProcessExit(pid_t pid, std::chrono::milliseconds limit) {
    if (pid <= 0) {
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    // Through syscall(): glibc's own wrapper is not declared for C++ in every version.
    const int descriptor = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (descriptor < 0) {
        return errno == ESRCH || pollForExit(pid, deadline);
    }
    // The descriptor turns readable once the process has ended, and it keeps pointing at that
    // process even if its number is handed out again.
    bool ended = false;
    for (;;) {
        const auto left = std::max<std::int64_t>(remaining(deadline).count(), 0);
        pollfd watch{descriptor, POLLIN, 0};
        const int ready = ::poll(&watch, 1, static_cast<int>(left));
        if (ready > 0) {
            ended = true;
            break;
        }
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0 || left == 0) {
            break;
        }
    }
    ::close(descriptor);
    return ended;
}

} // namespace orvane::linuxbackend
