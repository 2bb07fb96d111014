#include "orvane/camera/HeadPoseTracker.hpp"
#include "backends/sim/SimDesktop.hpp"

#include <cmath>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>

namespace orvane {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::Eq;
using Pose = sim::VirtualHead::Pose;

class HeadPoseTrackerTest : public ::testing::Test {
protected:
    HeadPoseTrackerTest() {
        tracker.setOnPose(
            [this](const std::optional<plinth::HeadPose>& pose) { delivered.push_back(pose); });
    }

    // One frame, `seconds` after the previous one; what it delivered (nothing: nullptr).
    const std::optional<plinth::HeadPose>* frameAfter(double seconds) {
        desktop.clock->advance(seconds);
        const auto before = delivered.size();
        static const std::uint8_t pixels[4] = {};
        tracker.process({2, 2, 2, pixels, PixelFormat::gray8});
        EXPECT_LE(delivered.size(), before + 1) << "at most one pose per frame";
        return delivered.size() > before ? &delivered.back() : nullptr;
    }

    static FaceObservation face(double x, double y, double width, double height) {
        FaceObservation face;
        face.boundingBox = {x, y, width, height};
        face.yaw = 0.1;
        return face;
    }

    sim::SimDesktop desktop;
    HeadPoseTracker tracker;
    std::vector<std::optional<plinth::HeadPose>> delivered;
};

TEST_F(HeadPoseTrackerTest, TheFirstFaceIsDeliveredAsSeen) {
    desktop.head->setPose({0.2, -0.1, 0.05, 0.6, 0.4, 0.3, 0.25});
    const auto* pose = frameAfter(0);
    ASSERT_TRUE(pose && *pose);
    EXPECT_DOUBLE_EQ((*pose)->yaw, 0.2);
    EXPECT_DOUBLE_EQ((*pose)->pitch, -0.1);
    EXPECT_DOUBLE_EQ((*pose)->roll, 0.05);
    EXPECT_DOUBLE_EQ((*pose)->centerX, 0.6);
    EXPECT_DOUBLE_EQ((*pose)->centerY, 0.4);
    EXPECT_DOUBLE_EQ((*pose)->area, 0.3 * 0.25);
    EXPECT_EQ((*pose)->timestamp, desktop.clock->now()) << "wall time of the reading";
    EXPECT_EQ(desktop.faceDetector->lastOrientation(), HeadPoseTracker::frameOrientation);
}

TEST_F(HeadPoseTrackerTest, LaterFacesAreBlendedTowardsTheNewReading) {
    desktop.head->setPose({0.0, 0.0, 0.0, 0.5, 0.5, 0.2, 0.2});
    frameAfter(0.1);
    desktop.head->setPose({0.4, 0.2, -0.1, 0.3, 0.7, 0.4, 0.4});
    for (int n = 1; n <= 4; ++n) {
        const auto* pose = frameAfter(0.1);
        ASSERT_TRUE(pose && *pose);
        const double reached = 1 - std::pow(0.65, n);
        EXPECT_NEAR((*pose)->yaw, 0.4 * reached, 1e-12);
        EXPECT_NEAR((*pose)->pitch, 0.2 * reached, 1e-12);
        EXPECT_NEAR((*pose)->roll, -0.1 * reached, 1e-12);
        EXPECT_NEAR((*pose)->centerX, 0.5 - 0.2 * reached, 1e-12);
        EXPECT_NEAR((*pose)->centerY, 0.5 + 0.2 * reached, 1e-12);
        EXPECT_NEAR((*pose)->area, 0.04 + 0.12 * reached, 1e-12);
        EXPECT_EQ((*pose)->timestamp, desktop.clock->now());
    }
}

TEST_F(HeadPoseTrackerTest, HoldsTheLastPoseForTheGracePeriodThenReportsNoFaceEveryFrame) {
    frameAfter(0);
    const auto held = *tracker.smoothed();
    desktop.head->setVisible(false);
    for (double step : {1.0, 0.8}) { // up to and including 1.8 s after the face
        const auto* pose = frameAfter(step);
        ASSERT_TRUE(pose && *pose);
        EXPECT_EQ((*pose)->timestamp, held.timestamp) << "the same pose, not a new reading";
        EXPECT_EQ((*pose)->yaw, held.yaw);
    }
    for (int i = 0; i < 2; ++i) {
        const auto* pose = frameAfter(0.001);
        ASSERT_TRUE(pose);
        EXPECT_FALSE(*pose);
        EXPECT_FALSE(tracker.smoothed());
    }
    EXPECT_EQ(tracker.missingFrames(), 4);

    desktop.head->setVisible(true);
    desktop.head->setPose({0.3, 0, 0, 0.5, 0.5, 0.2, 0.2});
    const auto* fresh = frameAfter(0.1);
    ASSERT_TRUE(fresh && *fresh);
    EXPECT_DOUBLE_EQ((*fresh)->yaw, 0.3) << "after the grace period the reading is not blended";
    EXPECT_EQ(tracker.missingFrames(), 0);
}

TEST_F(HeadPoseTrackerTest, AFaceRegainedWithinTheGracePeriodIsBlendedWithTheHeldPose) {
    frameAfter(0);
    desktop.head->setVisible(false);
    frameAfter(1.0);
    desktop.head->setVisible(true);
    desktop.head->setPose({0.4, 0, 0, 0.5, 0.5, 0.2, 0.2});
    const auto* pose = frameAfter(0.5);
    ASSERT_TRUE(pose && *pose);
    EXPECT_NEAR((*pose)->yaw, 0.4 * 0.35, 1e-12);
}

TEST_F(HeadPoseTrackerTest, WithoutAnyFaceEveryFrameReportsNoFaceFromTheFirst) {
    desktop.head->setVisible(false);
    frameAfter(0);
    frameAfter(0.1);
    EXPECT_EQ(delivered.size(), 2u);
    EXPECT_THAT(delivered, Each(Eq(std::nullopt)));
}

TEST_F(HeadPoseTrackerTest, TheGracePeriodRunsOnTheMonotonicClock) {
    frameAfter(0);
    desktop.head->setVisible(false);
    desktop.clock->stepWallClock(3600);
    const auto* ahead = frameAfter(0.5);
    ASSERT_TRUE(ahead);
    EXPECT_TRUE(*ahead) << "a wall clock set forward does not end the grace period";

    desktop.head->setVisible(true);
    frameAfter(0.1);
    desktop.head->setVisible(false);
    desktop.clock->stepWallClock(-7200);
    const auto* behind = frameAfter(2.0);
    ASSERT_TRUE(behind);
    EXPECT_FALSE(*behind) << "a wall clock set back does not stretch it";
}

TEST_F(HeadPoseTrackerTest, AFailedDetectionIsLoggedAndChangesNothing) {
    frameAfter(0);
    const auto held = tracker.smoothed();
    desktop.head->setDetectionError("the image could not be read");
    desktop.clock->advance(1.0);
    ASSERT_FALSE(frameAfter(0.5));
    EXPECT_FALSE(frameAfter(0.1)); // the same failure again: not logged again
    EXPECT_EQ(tracker.detectionError(), "the image could not be read");
    EXPECT_THAT(desktop.log->lines(LogLevel::error),
                ElementsAre("vision request failed: the image could not be read"));
    EXPECT_EQ(tracker.smoothed()->timestamp, held->timestamp);
    EXPECT_EQ(tracker.missingFrames(), 0);

    desktop.head->setDetectionError(std::nullopt);
    desktop.head->setVisible(false);
    const auto* pose = frameAfter(0.3); // 1.9 s after the face, 0.3 s after the failure
    ASSERT_TRUE(pose);
    EXPECT_FALSE(*pose) << "a failed detection is no sighting";
    EXPECT_EQ(tracker.detectionError(), std::nullopt);

    // Once a detection has worked, the same failure is news again.
    desktop.head->setDetectionError("the image could not be read");
    frameAfter(0.1);
    EXPECT_EQ(desktop.log->lines(LogLevel::error).size(), 2u);
}

TEST_F(HeadPoseTrackerTest, TheLargestFaceWinsAndTiesGoToTheFirst) {
    const auto small = face(0.1, 0.1, 0.1, 0.1);
    const auto large = face(0.4, 0.3, 0.5, 0.25);
    const auto sameAsLarge = face(0.0, 0.0, 0.25, 0.5);
    EXPECT_EQ(HeadPoseTracker::bestFace({small, large})->boundingBox, large.boundingBox);
    EXPECT_EQ(HeadPoseTracker::bestFace({large, small})->boundingBox, large.boundingBox);
    EXPECT_EQ(HeadPoseTracker::bestFace({large, sameAsLarge})->boundingBox, large.boundingBox);
    EXPECT_EQ(HeadPoseTracker::bestFace({sameAsLarge, large})->boundingBox,
              sameAsLarge.boundingBox);
    EXPECT_FALSE(HeadPoseTracker::bestFace({}));

    // Someone nearer the camera walks into view behind the user.
    desktop.head->setOtherFaces({large});
    const auto* pose = frameAfter(0);
    ASSERT_TRUE(pose && *pose);
    EXPECT_DOUBLE_EQ((*pose)->centerX, 0.65);
}

TEST_F(HeadPoseTrackerTest, AFaceWithANonFiniteValueCountsAsNoFace) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    auto hugeButBroken = face(0, 0, inf, 1);
    auto brokenYaw = face(0, 0, 0.9, 0.9);
    brokenYaw.yaw = nan;
    auto brokenRoll = face(0, 0, 0.8, 0.8);
    brokenRoll.roll = -inf;
    auto brokenX = face(nan, 0.2, 0.7, 0.7);
    const auto fine = face(0.4, 0.4, 0.2, 0.2);
    EXPECT_EQ(HeadPoseTracker::bestFace({brokenYaw, hugeButBroken, fine, brokenRoll, brokenX})
                  ->boundingBox,
              fine.boundingBox);

    desktop.head->setVisible(false);
    desktop.head->setOtherFaces({brokenYaw, brokenX});
    frameAfter(0);
    EXPECT_EQ(delivered.size(), 1u);
    EXPECT_THAT(delivered, Each(Eq(std::nullopt)));
    EXPECT_EQ(tracker.missingFrames(), 1);
}

TEST_F(HeadPoseTrackerTest, MissingAnglesCountAsZero) {
    desktop.head->setPose({0.3, 0.3, 0.3, 0.5, 0.5, 0.2, 0.2});
    desktop.head->setReportsAngles(false);
    const auto* pose = frameAfter(0);
    ASSERT_TRUE(pose && *pose);
    EXPECT_EQ((*pose)->yaw, 0);
    EXPECT_EQ((*pose)->pitch, 0);
    EXPECT_EQ((*pose)->roll, 0);
    EXPECT_DOUBLE_EQ((*pose)->area, 0.04);
}

TEST_F(HeadPoseTrackerTest, AsksForFewerFramesOnlyOnceTheGracePeriodIsOverAndForAllAtOnceAgain) {
    std::vector<FrameDemand> demands;
    tracker.setOnDemand([&](const FrameDemand& demand) { demands.push_back(demand); });
    const FrameDemand away = tracker.awayDemand();
    EXPECT_EQ(away.framesPerSecond, HeadPoseTracker::awayFramesPerSecond);

    frameAfter(0);
    desktop.head->setVisible(false);
    frameAfter(1.0);
    frameAfter(0.8); // still within the grace period: the face may be found again any moment
    frameAfter(0.001);
    frameAfter(0.2);
    EXPECT_THAT(demands, ElementsAre(FrameDemand{}, FrameDemand{}, FrameDemand{}, away, away))
        << "one demand after every frame";

    desktop.head->setVisible(true);
    const auto* pose = frameAfter(0.2);
    ASSERT_TRUE(pose && *pose);
    EXPECT_EQ(demands.back(), FrameDemand{}) << "with the very frame that found the face";

    // Frames only as large as the detector needs to follow the face, all of them; whole ones
    // once it is lost, to find it again.
    desktop.faceDetector->setFollowFrameSide(700);
    frameAfter(0.1);
    EXPECT_EQ(demands.back(), (FrameDemand{0, 700}));
    // And only their rows down to where the detector still reads.
    desktop.faceDetector->setFollowFrameRows(0.7);
    frameAfter(0.1);
    EXPECT_EQ(demands.back(), (FrameDemand{0, 700, 0.7}));
    desktop.head->setVisible(false);
    frameAfter(0.1);
    EXPECT_EQ(demands.back(), FrameDemand{}) << "in the grace period";
    desktop.head->setVisible(true);

    // Nobody from the start: there is no grace period to wait for.
    tracker.reset();
    desktop.head->setVisible(false);
    frameAfter(0.2);
    EXPECT_EQ(demands.back(), away);
}

TEST_F(HeadPoseTrackerTest, ResetStartsColdWithoutCallingBack) {
    frameAfter(0);
    desktop.head->setVisible(false);
    frameAfter(0.1);
    tracker.reset();
    EXPECT_EQ(delivered.size(), 2u);
    EXPECT_FALSE(tracker.smoothed());
    EXPECT_EQ(tracker.missingFrames(), 0);
    const auto* pose = frameAfter(0.1);
    ASSERT_TRUE(pose);
    EXPECT_FALSE(*pose) << "no grace after a reset";
}

} // namespace
} // namespace orvane
