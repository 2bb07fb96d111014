#pragma once

#include <cstdint>
#include <thread>
#include <unistd.h>

namespace orvane::linuxbackend {

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
