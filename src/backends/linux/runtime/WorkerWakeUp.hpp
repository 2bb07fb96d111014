#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <sys/eventfd.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace orvane::linuxbackend {

// Starts a worker thread with the eventfd `wakeFd` that `wakeJoinAndClose` wakes it by;
// nullopt once it runs, else why it could not start.
template <typename Body>
std::optional<std::string> startWithWakeUp(std::thread& worker, int& wakeFd, Body&& body) {
    wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        return std::strerror(errno);
    }
    try {
        worker = std::thread(std::forward<Body>(body));
    } catch (const std::system_error& error) {
        return error.what();
    }
    return std::nullopt;
}

// Ends a worker thread that polls `wakeFd` (an eventfd) beside its own work: wakes it, waits
// for it, and closes the descriptor.
inline void wakeJoinAndClose(std::thread& worker, int& wakeFd) {
    if (worker.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wakeFd, &one, sizeof one);
        worker.join();
    }
    if (wakeFd >= 0) {
        ::close(wakeFd);
        wakeFd = -1;
    }
}

} // namespace orvane::linuxbackend
