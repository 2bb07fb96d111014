#include "backends/linux/face/HeadPoseSolver.hpp"

#include <opencv2/calib3d.hpp>

#include <algorithm>
#include <cmath>

namespace orvane::linuxbackend::HeadPoseSolver {
namespace {

// Distance between the outer eye corners of the model, for the frontal guess.
constexpr double modelEyeSpan = 91.2;
// Outer eye corners in model order.
constexpr std::size_t leftEyeOuter = 5;
constexpr std::size_t rightEyeOuter = 8;

cv::Point3d modelCentroid() {
    cv::Point3d sum;
    for (const auto& point : modelPoints()) {
        sum += point;
    }
    return sum * (1.0 / pointCount);
}

// The face turned straight at the camera, at the distance its eye span suggests, placed so
// that the model's centroid projects onto the landmarks' centroid.
ModelPose frontalGuess(const std::array<cv::Point2d, pointCount>& points, cv::Size size) {
    const auto camera = cameraMatrix(size);
    const double focal = camera(0, 0);
    const double span = cv::norm(points[rightEyeOuter] - points[leftEyeOuter]);
    const double depth = focal * modelEyeSpan / std::max(span, 1.0);
    cv::Point2d mean;
    for (const auto& point : points) {
        mean += point;
    }
    mean *= 1.0 / pointCount;
    const auto centroid = modelCentroid();
    const cv::Vec3d translation((mean.x - camera(0, 2)) * depth / focal - centroid.x,
                                (mean.y - camera(1, 2)) * depth / focal - centroid.y,
                                depth - centroid.z);
    return {cv::Vec3d(0, 0, 0), translation};
}

} // namespace

const std::array<int, pointCount>& landmarkIndices() {
    // Nose bridge top, nose tip, nose base, nostrils, eye corners (image left to right).
    static const std::array<int, pointCount> indices{27, 30, 33, 31, 35, 36, 39, 42, 45};
    return indices;
}

const std::array<cv::Point3d, pointCount>& modelPoints() {
    // x to the image right, y down, z away from the camera: the nose points at the camera.
    static const std::array<cv::Point3d, pointCount> points{{
        {0.0, -42.0, -13.4},  // nose bridge top
        {0.0, -8.4, -37.0},   // nose tip
        {0.0, 6.6, -25.9},    // nose base
        {-15.0, 2.6, -20.5},  // nostril, image left
        {15.0, 2.6, -20.5},   // nostril, image right
        {-45.6, -37.8, 6.0},  // outer eye corner, image left
        {-19.5, -36.9, -0.4}, // inner eye corner, image left
        {19.5, -36.9, -0.4},  // inner eye corner, image right
        {45.6, -37.8, 6.0},   // outer eye corner, image right
    }};
    return points;
}

cv::Matx33d cameraMatrix(cv::Size image) {
    const double focal = focalLengthFactor * image.width;
    return {focal, 0, image.width / 2.0, 0, focal, image.height / 2.0, 0, 0, 1};
}

std::optional<ModelPose> solve(const std::array<cv::Point2d, pointCount>& points, cv::Size size,
                               const std::optional<ModelPose>& seed) {
    if (size.width <= 0 || size.height <= 0) {
        return std::nullopt;
    }
    for (const auto& point : points) {
        if (!std::isfinite(point.x) || !std::isfinite(point.y)) {
            return std::nullopt;
        }
    }
    ModelPose pose = seed ? *seed : frontalGuess(points, size);
    const std::vector<cv::Point3d> object(modelPoints().begin(), modelPoints().end());
    const std::vector<cv::Point2d> image(points.begin(), points.end());
    try {
        if (!cv::solvePnP(object, image, cameraMatrix(size), cv::noArray(), pose.rotation,
                          pose.translation, true, cv::SOLVEPNP_ITERATIVE)) {
            return std::nullopt;
        }
    } catch (const cv::Exception&) {
        return std::nullopt;
    }
    for (int i = 0; i < 3; ++i) {
        if (!std::isfinite(pose.rotation[i]) || !std::isfinite(pose.translation[i])) {
            return std::nullopt;
        }
    }
    // A mirror-image fit puts the face behind the camera or looking away from it.
    if (pose.translation[2] <= 0 || !angles(pose)) {
        return std::nullopt;
    }
    return pose;
}

std::optional<HeadAngles> angles(const ModelPose& pose) {
    cv::Matx33d r;
    cv::Rodrigues(pose.rotation, r);
    // r = Ry(-yaw) * Rx(-pitch) * Rz(roll): the head turns about the camera's vertical axis
    // last, so yaw and pitch are read off the direction the face points in (-z of the model).
    if (r(2, 2) <= 0 || r(1, 1) <= 0) {
        return std::nullopt; // facing away, or upside down
    }
    HeadAngles result;
    result.yaw = -std::atan2(r(0, 2), r(2, 2));
    result.pitch = std::asin(std::clamp(r(1, 2), -1.0, 1.0));
    result.roll = std::atan2(r(1, 0), r(1, 1));
    return result;
}

} // namespace orvane::linuxbackend::HeadPoseSolver
