#pragma once

#include <opencv2/core.hpp>

#include <array>
#include <optional>
#include <vector>

namespace orvane::linuxbackend {

// Where the rigid head model sits in front of the camera: a Rodrigues rotation vector and a
// translation in millimetres, both in camera coordinates (x right, y down, z into the scene).
struct ModelPose {
    cv::Vec3d rotation;
    cv::Vec3d translation;
};

// Radians, 0 when looking straight into the camera. Yaw is positive when the user turns to
// their own right as seen in a mirrored image, pitch when tilting up, roll toward the right
// shoulder.
struct HeadAngles {
    double yaw = 0;
    double pitch = 0;
    double roll = 0;
};

// Head pose from facial landmarks: a rigid model of nine points of the nose and the eye
// corners fitted by solvePnP. Leaving out the mouth and the jaw line keeps the fit steady
// while the user talks and where the landmarks are least sure.
namespace HeadPoseSolver {

inline constexpr std::size_t pointCount = 9;

// A 70-degree webcam: the focal length in pixels is this factor times the image width.
inline constexpr double focalLengthFactor = 0.71;

// Indices of the model's points in the 68-point landmark markup, in model order.
const std::array<int, pointCount>& landmarkIndices();

// The model's points in millimetres, looking along -z at the camera (a mean adult face,
// made exactly symmetric so that mirrored images give exactly opposite yaw and roll).
const std::array<cv::Point3d, pointCount>& modelPoints();

// Focal length `focalLengthFactor` times the width, principal point at the centre.
cv::Matx33d cameraMatrix(cv::Size image);

// The model's pose for landmarks at `points` (model order) in an image of `size`. Starts
// from `seed` (the previous frame's pose of this face) or else from a frontal guess.
// nullopt when no fit has the face turned toward the camera.
std::optional<ModelPose> solve(const std::array<cv::Point2d, pointCount>& points, cv::Size size,
                               const std::optional<ModelPose>& seed);

// Yaw, pitch and roll of a pose; nullopt when the face is turned away from the camera or
// upside down, where the angles leave (-pi/2, pi/2).
std::optional<HeadAngles> angles(const ModelPose& pose);

} // namespace HeadPoseSolver
} // namespace orvane::linuxbackend
