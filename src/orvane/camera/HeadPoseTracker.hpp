#pragma once

#include "orvane/platform/CameraService.hpp"
#include "orvane/platform/Clock.hpp"
#include "orvane/platform/FaceDetector.hpp"
#include "plinth/HeadPose.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace orvane {

// Turns each camera frame into at most one smoothed head pose for a single consumer. Keeps
// re-delivering the last pose for a short grace period after the face is lost, then reports
// no face on every faceless frame. `process` runs on the camera queue; `reset` may run on any
// thread.
//
// Once the grace period is over with nobody in view, it asks the camera for fewer and smaller
// frames (`awayDemand`), enough to notice someone sitting down; a frame with a face asks for
// every frame, at the size the detector needs to follow it.
class HeadPoseTracker {
public:
    static constexpr double smoothing = 0.35;
    static constexpr double poseGraceSeconds = 1.8;
    // Frames a second while nobody is in view. The detector searches a still view at least
    // every few frames (DlibFaceDetector::idleSearchInterval): about once a second at this rate.
    static constexpr double awayFramesPerSecond = 5;
    // The orientation the detector reads frames in: mirrored, as people see themselves.
    static constexpr int frameOrientation = 5;

    using PoseHandler = std::function<void(const std::optional<plinth::HeadPose>&)>;
    using DemandHandler = std::function<void(const FrameDemand&)>;

    HeadPoseTracker();

    // Detects faces in the frame and calls the pose handler at most once, before returning.
    void process(const PixelBuffer& frame);
    // Begins cold: no smoothed pose, no missing frames, no face seen. Does not call back.
    void reset();

    // Safe to set from any thread.
    void setOnPose(PoseHandler handler);
    // Told after every processed frame what the frames to come need to be, on the camera
    // queue: the owner passes it to the capture, which ignores a demand it already has.
    // Safe to set from any thread.
    void setOnDemand(DemandHandler handler);

    // What a camera need deliver while nobody is in view.
    FrameDemand awayDemand() const;

    std::optional<plinth::HeadPose> smoothed() const;
    std::int64_t missingFrames() const;
    // Why the latest detection failed; nullopt once one succeeds. Any thread.
    std::optional<std::string> detectionError() const;

    // The largest face (strictly larger area wins; ties keep the earlier one). A face with a
    // value that is not a finite number counts as no face.
    static std::optional<FaceObservation> bestFace(const std::vector<FaceObservation>& faces);
    static plinth::HeadPose blend(const std::optional<plinth::HeadPose>& previous,
                                  const plinth::HeadPose& raw);

private:
    // Held from construction: frames are processed on the camera's queue, which may still be
    // busy with one while the platform that made these is being taken down.
    std::shared_ptr<FaceDetector> detector_;
    std::shared_ptr<Clock> clock_;
    mutable std::mutex mutex_;
    std::optional<plinth::HeadPose> smoothed_;
    double lastSeenFace_; // monotonic seconds
    std::int64_t missingFrames_ = 0;
    std::optional<std::string> detectionError_;
    // A failure that repeats frame after frame (a missing face model) is logged once, until a
    // detection succeeds again. Camera queue only.
    std::optional<std::string> loggedError_;
    std::shared_ptr<const PoseHandler> onPose_;
    std::shared_ptr<const DemandHandler> onDemand_;
};

} // namespace orvane
