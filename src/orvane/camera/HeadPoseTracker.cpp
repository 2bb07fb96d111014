#include "orvane/camera/HeadPoseTracker.hpp"

#include "orvane/platform/Platform.hpp"
#include "orvane/support/Log.hpp"

#include <cmath>
#include <utility>

namespace orvane {
namespace {

bool isFinite(const std::optional<double>& angle) {
    return !angle || std::isfinite(*angle);
}

// A box or angle that is not a number would poison the smoothed pose for good.
bool isUsable(const FaceObservation& face) {
    const auto& box = face.boundingBox;
    return std::isfinite(box.x) && std::isfinite(box.y) && std::isfinite(box.width) &&
           std::isfinite(box.height) && isFinite(face.yaw) && isFinite(face.pitch) &&
           isFinite(face.roll);
}

double areaOf(const FaceObservation& face) {
    return face.boundingBox.width * face.boundingBox.height;
}

} // namespace

HeadPoseTracker::HeadPoseTracker()
    : detector_(platform().faceDetector), clock_(platform().clock),
      lastSeenFace_(Clock::distantPast) {}

void HeadPoseTracker::process(const PixelBuffer& frame) {
    const auto result = detector_->detect(frame, frameOrientation);
    if (result.error) {
        {
            std::lock_guard lock(mutex_);
            detectionError_ = result.error;
        }
        if (loggedError_ != result.error) {
            Log::error("vision request failed: " + *result.error);
            loggedError_ = result.error;
        }
        return;
    }
    loggedError_.reset();
    const auto face = bestFace(result.faces);
    const auto& clock = *clock_;

    bool deliver = false;
    bool away = false;
    std::optional<plinth::HeadPose> pose;
    std::shared_ptr<const PoseHandler> handler;
    std::shared_ptr<const DemandHandler> demandHandler;
    {
        std::lock_guard lock(mutex_);
        detectionError_.reset();
        if (face) {
            missingFrames_ = 0;
            lastSeenFace_ = clock.monotonic();
            const auto& box = face->boundingBox;
            plinth::HeadPose raw;
            raw.yaw = face->yaw.value_or(0);
            raw.pitch = face->pitch.value_or(0);
            raw.roll = face->roll.value_or(0);
            raw.centerX = box.x + box.width / 2;
            raw.centerY = box.y + box.height / 2;
            raw.area = box.width * box.height;
            raw.timestamp = clock.now();
            smoothed_ = blend(smoothed_, raw);
            pose = smoothed_;
            deliver = true;
        } else {
            ++missingFrames_;
            if (clock.monotonic() - lastSeenFace_ <= poseGraceSeconds) {
                pose = smoothed_;
                deliver = smoothed_.has_value();
            } else {
                smoothed_.reset();
                deliver = true;
                away = true;
            }
        }
        handler = onPose_;
        demandHandler = onDemand_;
    }
    if (deliver && handler) {
        (*handler)(pose);
    }
    if (demandHandler) {
        // While a face is followed, frames as small as still follow it; in the grace after
        // losing one, whole frames to find it again.
        (*demandHandler)(
            away   ? awayDemand()
            : face ? FrameDemand{0, detector_->followFrameSide(), detector_->followFrameRows()}
                   : FrameDemand{});
    }
}

FrameDemand HeadPoseTracker::awayDemand() const {
    return {awayFramesPerSecond, detector_->searchFrameSide()};
}

void HeadPoseTracker::reset() {
    std::lock_guard lock(mutex_);
    smoothed_.reset();
    missingFrames_ = 0;
    lastSeenFace_ = Clock::distantPast;
}

void HeadPoseTracker::setOnPose(PoseHandler handler) {
    auto shared = handler ? std::make_shared<const PoseHandler>(std::move(handler)) : nullptr;
    std::lock_guard lock(mutex_);
    onPose_ = std::move(shared);
}

void HeadPoseTracker::setOnDemand(DemandHandler handler) {
    auto shared = handler ? std::make_shared<const DemandHandler>(std::move(handler)) : nullptr;
    std::lock_guard lock(mutex_);
    onDemand_ = std::move(shared);
}

std::optional<plinth::HeadPose> HeadPoseTracker::smoothed() const {
    std::lock_guard lock(mutex_);
    return smoothed_;
}

std::int64_t HeadPoseTracker::missingFrames() const {
    std::lock_guard lock(mutex_);
    return missingFrames_;
}

std::optional<std::string> HeadPoseTracker::detectionError() const {
    std::lock_guard lock(mutex_);
    return detectionError_;
}

std::optional<FaceObservation>
HeadPoseTracker::bestFace(const std::vector<FaceObservation>& faces) {
    std::optional<FaceObservation> best;
    for (const auto& face : faces) {
        if (isUsable(face) && (!best || areaOf(face) > areaOf(*best))) {
            best = face;
        }
    }
    return best;
}

plinth::HeadPose HeadPoseTracker::blend(const std::optional<plinth::HeadPose>& previous,
                                        const plinth::HeadPose& raw) {
    if (!previous) {
        return raw;
    }
    auto mix = [](double old, double fresh) {
        return old + (fresh - old) * smoothing;
    };
    plinth::HeadPose pose;
    pose.yaw = mix(previous->yaw, raw.yaw);
    pose.pitch = mix(previous->pitch, raw.pitch);
    pose.roll = mix(previous->roll, raw.roll);
    pose.centerX = mix(previous->centerX, raw.centerX);
    pose.centerY = mix(previous->centerY, raw.centerY);
    pose.area = mix(previous->area, raw.area);
    pose.timestamp = raw.timestamp;
    return pose;
}

} // namespace orvane
