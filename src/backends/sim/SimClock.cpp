#include "backends/sim/SimClock.hpp"

namespace orvane::sim {

void SimClock::advance(double seconds) {
    if (!(seconds > 0)) {
        return;
    }
    double current = elapsed_.load();
    while (!elapsed_.compare_exchange_weak(current, current + seconds)) {
    }
}

} // namespace orvane::sim
