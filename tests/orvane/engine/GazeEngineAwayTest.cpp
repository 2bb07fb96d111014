// With nobody in front of the camera the engine asks it for fewer frames, and for every frame
// again the moment a face is back: what reaches the tracker, and what the engine decides.
#include "EngineFixture.hpp"

namespace orvane::testing {
namespace {

class GazeEngineAway : public EngineFixture {
protected:
    // Frames passed on to the tracker over `seconds`.
    std::int64_t framesOver(double seconds) {
        const auto before = engine->camera().framesDelivered();
        desktop.run(seconds);
        return engine->camera().framesDelivered() - before;
    }
    FrameDemand awayDemand() { return engine->tracker().awayDemand(); }
};

TEST_F(GazeEngineAway, NobodyInViewSlowsTheCameraAndAFaceBringsEveryFrameBack) {
    startTracking();
    EXPECT_NEAR(framesOver(1.0), 15, 1);

    desktop.head->setVisible(false);
    desktop.run(HeadPoseTracker::poseGraceSeconds + 0.2);
    EXPECT_EQ(engine->camera().demand(), awayDemand());
    EXPECT_EQ(desktop.camera->calls().demands.back(), awayDemand()) << "the session is told";
    EXPECT_NEAR(framesOver(2.0), 2 * HeadPoseTracker::awayFramesPerSecond, 1);
    EXPECT_EQ(engine->status.get(), GazeStatus::noFace());

    desktop.head->setVisible(true);
    // Seen at the next of the fewer frames, and every frame from then on.
    desktop.run(1.0 / HeadPoseTracker::awayFramesPerSecond + 0.01);
    EXPECT_EQ(engine->camera().demand(), FrameDemand{});
    EXPECT_EQ(desktop.camera->calls().demands.back(), FrameDemand{});
    EXPECT_NEAR(framesOver(1.0), 15, 1);
    EXPECT_EQ(engine->status.get(), GazeStatus::tracking("Display 1"));
}

TEST_F(GazeEngineAway, TheGracePeriodKeepsEveryFrameAndAPauseStartsAgainWithEveryFrame) {
    startTracking();
    desktop.head->setVisible(false);
    EXPECT_NEAR(framesOver(HeadPoseTracker::poseGraceSeconds - 0.1),
                15 * (HeadPoseTracker::poseGraceSeconds - 0.1), 1)
        << "a face briefly lost is looked for at every frame";
    desktop.run(1.0);
    ASSERT_EQ(engine->camera().demand(), awayDemand());

    engine->setPaused(true);
    EXPECT_EQ(engine->camera().demand(), FrameDemand{});
    desktop.run(1.0);
    desktop.head->setVisible(true);
    engine->setPaused(false);
    EXPECT_NEAR(framesOver(1.0), 15, 1);
    EXPECT_EQ(engine->status.get(), GazeStatus::tracking("Display 1"));
}

} // namespace
} // namespace orvane::testing
