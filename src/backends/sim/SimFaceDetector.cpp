#include "backends/sim/SimFaceDetector.hpp"

namespace orvane::sim {

FaceDetectionResult SimFaceDetector::detect(const PixelBuffer& /*frame*/, int orientation) {
    ++detections_;
    lastOrientation_.store(orientation);
    return head_->observe();
}

} // namespace orvane::sim
