#include "backends/linux/camera/FramePacer.hpp"

#include <algorithm>
#include <cmath>

namespace orvane::linuxbackend {

void FramePacer::setDemand(const FrameDemand& demand) {
    std::lock_guard lock(mutex_);
    demand_ = demand;
}

FrameDemand FramePacer::demand() const {
    std::lock_guard lock(mutex_);
    return demand_;
}

std::optional<int> FramePacer::admit(Clock::time_point now, int width, int height) {
    std::lock_guard lock(mutex_);
    const double rate = demand_.framesPerSecond;
    if (rate > 0 && std::isfinite(rate) && lastKept_) {
        const std::chrono::duration<double> since = now - *lastKept_;
        if (since.count() < spacingFactor / rate) {
            ++skipped_;
            return std::nullopt;
        }
    }
    lastKept_ = now;
    return scaleFor(width, height, demand_.minimumSide);
}

double FramePacer::topRows() const {
    std::lock_guard lock(mutex_);
    return demand_.topRows;
}

void FramePacer::restart() {
    std::lock_guard lock(mutex_);
    lastKept_.reset();
}

std::int64_t FramePacer::framesSkipped() const {
    std::lock_guard lock(mutex_);
    return skipped_;
}

int FramePacer::scaleFor(int width, int height, int minimumSide) {
    const int longer = std::max(width, height);
    if (minimumSide <= 0 || longer <= 0) {
        return 1;
    }
    for (const int divisor : {8, 4, 2}) {
        // Rounded up, as the decoder sizes a scaled image.
        if ((longer + divisor - 1) / divisor >= minimumSide) {
            return divisor;
        }
    }
    return 1;
}

} // namespace orvane::linuxbackend
