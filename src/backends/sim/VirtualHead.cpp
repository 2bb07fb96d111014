#include "backends/sim/VirtualHead.hpp"

#include <algorithm>

namespace orvane::sim {

VirtualHead::VirtualHead(std::shared_ptr<const Clock> clock) : clock_(std::move(clock)) {}

VirtualHead::Pose VirtualHead::pose() const {
    std::lock_guard lock(mutex_);
    return poseAt(clock_->monotonic());
}

void VirtualHead::setPose(const Pose& pose) {
    std::lock_guard lock(mutex_);
    from_ = to_ = pose;
    moveSeconds_ = 0;
}

void VirtualHead::moveTo(const Pose& target, double seconds) {
    std::lock_guard lock(mutex_);
    const double now = clock_->monotonic();
    from_ = poseAt(now);
    to_ = target;
    moveStart_ = now;
    moveSeconds_ = std::max(seconds, 0.0);
}

void VirtualHead::turnTo(double yaw, double pitch, double seconds) {
    auto target = pose();
    target.yaw = yaw;
    target.pitch = pitch;
    moveTo(target, seconds);
}

void VirtualHead::setVisible(bool visible) {
    std::lock_guard lock(mutex_);
    visible_ = visible;
}

void VirtualHead::setReportsAngles(bool reports) {
    std::lock_guard lock(mutex_);
    reportsAngles_ = reports;
}

void VirtualHead::setOtherFaces(std::vector<FaceObservation> faces) {
    std::lock_guard lock(mutex_);
    others_ = std::move(faces);
}

void VirtualHead::setDetectionError(std::optional<std::string> error) {
    std::lock_guard lock(mutex_);
    error_ = std::move(error);
}

FaceDetectionResult VirtualHead::observe() const {
    std::lock_guard lock(mutex_);
    FaceDetectionResult result;
    if (error_) {
        result.error = error_;
        return result;
    }
    if (visible_) {
        const Pose pose = poseAt(clock_->monotonic());
        FaceObservation face;
        face.boundingBox = {pose.centerX - pose.width / 2, pose.centerY - pose.height / 2,
                            pose.width, pose.height};
        if (reportsAngles_) {
            face.yaw = pose.yaw;
            face.pitch = pose.pitch;
            face.roll = pose.roll;
        }
        result.faces.push_back(face);
    }
    result.faces.insert(result.faces.end(), others_.begin(), others_.end());
    return result;
}

VirtualHead::Pose VirtualHead::poseAt(double monotonic) const {
    if (!(moveSeconds_ > 0) || monotonic >= moveStart_ + moveSeconds_) {
        return to_;
    }
    const double t = std::clamp((monotonic - moveStart_) / moveSeconds_, 0.0, 1.0);
    auto mix = [t](double a, double b) {
        return a + (b - a) * t;
    };
    return {mix(from_.yaw, to_.yaw),         mix(from_.pitch, to_.pitch),
            mix(from_.roll, to_.roll),       mix(from_.centerX, to_.centerX),
            mix(from_.centerY, to_.centerY), mix(from_.width, to_.width),
            mix(from_.height, to_.height)};
}

} // namespace orvane::sim
