#include "backends/linux/face/HeadPoseSolver.hpp"

#include "linux/support/FacePhotos.hpp"

#include <opencv2/calib3d.hpp>

#include <cmath>
#include <gtest/gtest.h>

namespace orvane::linuxbackend {
namespace {

using Points = std::array<cv::Point2d, HeadPoseSolver::pointCount>;

const cv::Size imageSize(1280, 720);
constexpr double degree = CV_PI / 180;

// Where the model's points land for a head turned by `angles`, 600 mm in front of the camera.
Points project(double yaw, double pitch, double roll, cv::Vec3d translation = {30, -20, 600}) {
    cv::Vec3d rotation;
    cv::Rodrigues(test::headRotation(yaw, pitch, roll), rotation);
    const std::vector<cv::Point3d> model(HeadPoseSolver::modelPoints().begin(),
                                         HeadPoseSolver::modelPoints().end());
    std::vector<cv::Point2d> image;
    cv::projectPoints(model, rotation, translation, HeadPoseSolver::cameraMatrix(imageSize),
                      cv::noArray(), image);
    Points points;
    std::copy(image.begin(), image.end(), points.begin());
    return points;
}

// The same face seen in a mirror: every point reflected, and the points of the image's left
// and right swapped, as a landmark predictor labels them by where they are in the image.
Points mirrored(const Points& points) {
    // Model order: bridge, tip, base, nostrils (left, right), eye corners left to right.
    static const std::array<std::size_t, HeadPoseSolver::pointCount> partner{0, 1, 2, 4, 3,
                                                                             8, 7, 6, 5};
    Points result;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const auto& source = points[partner[i]];
        result[i] = {imageSize.width - source.x, source.y};
    }
    return result;
}

HeadAngles solveAngles(const Points& points, const std::optional<ModelPose>& seed = {}) {
    const auto pose = HeadPoseSolver::solve(points, imageSize, seed);
    if (!pose) {
        ADD_FAILURE() << "no pose";
        return {};
    }
    const auto angles = HeadPoseSolver::angles(*pose);
    if (!angles) {
        ADD_FAILURE() << "no angles";
        return {};
    }
    return *angles;
}

// The sign conventions, tied to what can be seen in the (mirrored) image.
TEST(HeadPoseConventions, TurnsMoveTheNoseTheWayTheUserTurns) {
    const auto frontal = project(0, 0, 0);
    const auto noseOffset = [](const Points& p) {
        return p[1] - (p[5] + p[8]) * 0.5;
    };
    // Turning to their own right (the image's right in a mirror) swings the nose tip right.
    EXPECT_GT(noseOffset(project(20 * degree, 0, 0)).x, noseOffset(frontal).x + 10);
    // Tilting the head up lifts the nose tip toward the eyes (image y grows downward).
    EXPECT_LT(noseOffset(project(0, 20 * degree, 0)).y, noseOffset(frontal).y - 10);
    // Leaning toward the right shoulder drops the eye on the image's right below the other.
    const auto leaning = project(0, 0, 20 * degree);
    EXPECT_GT(leaning[8].y, leaning[5].y + 10);
}

TEST(HeadPoseSolver, RecoversTheAnglesOfAnExactProjection) {
    const std::array<std::array<double, 3>, 6> cases{
        {{0, 0, 0}, {25, 0, 0}, {-25, 0, 0}, {0, 15, 0}, {0, -15, 10}, {20, -10, -15}}};
    for (const auto& [yaw, pitch, roll] : cases) {
        SCOPED_TRACE(testing::Message() << yaw << " " << pitch << " " << roll);
        const auto points = project(yaw * degree, pitch * degree, roll * degree);
        const auto angles = solveAngles(points);
        EXPECT_NEAR(angles.yaw, yaw * degree, 1e-4);
        EXPECT_NEAR(angles.pitch, pitch * degree, 1e-4);
        EXPECT_NEAR(angles.roll, roll * degree, 1e-4);
        // Starting from another face's pose, as when following, lands on the same answer.
        const auto seed = HeadPoseSolver::solve(project(0, 0, 0), imageSize, std::nullopt);
        const auto seeded = solveAngles(points, seed);
        EXPECT_NEAR(seeded.yaw, yaw * degree, 1e-4);
        EXPECT_NEAR(seeded.pitch, pitch * degree, 1e-4);
    }
}

TEST(HeadPoseSolver, AMirroredFaceHasOppositeYawAndRoll) {
    const auto original = solveAngles(project(18 * degree, -8 * degree, 12 * degree));
    const auto reflected = solveAngles(mirrored(project(18 * degree, -8 * degree, 12 * degree)));
    EXPECT_NEAR(reflected.yaw, -original.yaw, 1e-4);
    EXPECT_NEAR(reflected.pitch, original.pitch, 1e-4);
    EXPECT_NEAR(reflected.roll, -original.roll, 1e-4);
}

TEST(HeadPoseSolver, RefusesPosesOutsideTheRangeOfAFaceSeenFromTheFront) {
    // Facing away from the camera, or upside down: the angles would leave (-pi/2, pi/2).
    EXPECT_FALSE(HeadPoseSolver::angles({cv::Vec3d(0, CV_PI * 0.75, 0), cv::Vec3d(0, 0, 600)}));
    EXPECT_FALSE(HeadPoseSolver::angles({cv::Vec3d(0, 0, CV_PI * 0.75), cv::Vec3d(0, 0, 600)}));

    // Landmarks that are not numbers, an image of no size.
    Points broken = project(0, 0, 0);
    broken[3].x = std::nan("");
    EXPECT_FALSE(HeadPoseSolver::solve(broken, imageSize, std::nullopt));
    EXPECT_FALSE(HeadPoseSolver::solve(project(0, 0, 0), cv::Size(0, 0), std::nullopt));
}

} // namespace
} // namespace orvane::linuxbackend
