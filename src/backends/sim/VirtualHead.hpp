#pragma once

#include "orvane/platform/Clock.hpp"
#include "orvane/platform/FaceDetector.hpp"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace orvane::sim {

// The person in front of the simulated camera, as a face detector would report them. Angles
// in radians; the box in normalised image coordinates, origin at the lower-left.
class VirtualHead {
public:
    struct Pose {
        double yaw = 0;
        double pitch = 0;
        double roll = 0;
        double centerX = 0.5;
        double centerY = 0.5;
        double width = 0.2; // of the face box; area = width x height
        double height = 0.2;
    };

    // Visible, looking straight into the camera from the middle of the picture.
    explicit VirtualHead(std::shared_ptr<const Clock> clock);

    // Where the head is now; part-way through a movement, the linear mix of its ends.
    Pose pose() const;
    // At once, ending any movement.
    void setPose(const Pose& pose);
    // Moves linearly from where the head is now to `target` over `seconds` of virtual
    // (monotonic) time, then stays there.
    void moveTo(const Pose& target, double seconds);
    // A turn of the head alone: the rest of the pose stays as it is now.
    void turnTo(double yaw, double pitch, double seconds);

    // Out of the picture (looked away, left the desk, camera covered): no face of ours.
    void setVisible(bool visible);
    // False: the detector finds the face but gives no yaw, pitch or roll.
    void setReportsAngles(bool reports);
    // Other people in view, reported after the head in this order.
    void setOtherFaces(std::vector<FaceObservation> faces);
    // While set, every detection fails with this description.
    void setDetectionError(std::optional<std::string> error);

    // What a detector sees at this moment.
    FaceDetectionResult observe() const;

private:
    Pose poseAt(double monotonic) const; // under mutex_

    std::shared_ptr<const Clock> clock_;
    mutable std::mutex mutex_;
    Pose from_;
    Pose to_;
    double moveStart_ = 0;
    double moveSeconds_ = 0;
    bool visible_ = true;
    bool reportsAngles_ = true;
    std::vector<FaceObservation> others_;
    std::optional<std::string> error_;
};

} // namespace orvane::sim
