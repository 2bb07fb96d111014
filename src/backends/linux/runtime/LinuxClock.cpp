#include "backends/linux/runtime/LinuxClock.hpp"

#include <chrono>

namespace orvane::linuxbackend {

double LinuxClock::now() const {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

double LinuxClock::monotonic() const {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace orvane::linuxbackend
