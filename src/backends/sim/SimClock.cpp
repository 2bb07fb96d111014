#include "backends/sim/SimClock.hpp"

#include <cmath>

namespace orvane::sim {

void SimClock::advance(double seconds) {
    if (!(seconds > 0)) {
        return;
    }
    add(elapsed_, seconds);
}

void SimClock::stepWallClock(double seconds) {
    if (!std::isfinite(seconds)) {
        return;
    }
    add(wallStep_, seconds);
}

void SimClock::add(std::atomic<double>& value, double seconds) {
    double current = value.load();
    while (!value.compare_exchange_weak(current, current + seconds)) {
    }
}

} // namespace orvane::sim
