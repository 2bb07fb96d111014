#include "backends/sim/SimFaceDetector.hpp"

namespace orvane::sim {

FaceDetectionResult SimFaceDetector::detect(const PixelBuffer& /*frame*/, int orientation) {
    if (isLoading()) {
        return {};
    }
    ++detections_;
    lastOrientation_.store(orientation);
    return head_->observe();
}

bool SimFaceDetector::isLoading() const {
    std::lock_guard lock(mutex_);
    return loadingClock_ && loadingClock_->monotonic() < loadedAt_;
}

void SimFaceDetector::setLoadingUntil(std::shared_ptr<const Clock> clock, double monotonic) {
    std::lock_guard lock(mutex_);
    loadingClock_ = std::move(clock);
    loadedAt_ = monotonic;
}

} // namespace orvane::sim
