#include "orvane/engine/EngineFixture.hpp"
#include "orvane/engine/GazeEngine.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orvane {
namespace {

using ::testing::Contains;
using ::testing::Not;

class GazeEngineCameraLoss : public testing::EngineFixture {
protected:
    // Long enough for the stall to be seen at a permission tick, and a few ticks more.
    static constexpr double lossSeconds =
        GazeEngine::cameraStallSeconds + 4 * GazeEngine::permissionPollInterval;
    static constexpr const char* stalled =
        "the camera stopped delivering frames: starting it again";
};

TEST_F(GazeEngineCameraLoss, AnUnpluggedCameraIsReportedOnceAndTakenBackWhenItReturns) {
    startTracking();
    const auto activations = desktop.workspace->activations().size();
    desktop.camera->removeDevice("sim-camera-0");
    // The user looks at the other display meanwhile: nothing sees it, nothing moves.
    faceToward(onB);
    desktop.run(lossSeconds);
    EXPECT_FALSE(engine->isPipelineLive());
    EXPECT_EQ(engine->status.get(), GazeStatus::waiting(GazeEngine::cameraLostReason));
    EXPECT_EQ(engine->gazePoint.get(), std::nullopt);
    EXPECT_EQ(desktop.workspace->activations().size(), activations);
    // Tried at every tick, told once.
    EXPECT_EQ(countLogged(stalled), 1u);
    EXPECT_EQ(countLogged("No camera found."), 1u);

    desktop.camera->addDevice(sim::SimCamera::defaultDevice());
    desktop.run(2 * GazeEngine::permissionPollInterval + 1.0);
    EXPECT_TRUE(engine->isPipelineLive());
    EXPECT_TRUE(cameraStreams());
    EXPECT_EQ(countLogged("pipeline started"), 2u);
    desktop.run(GazeEngine::cameraStallSeconds);
    EXPECT_EQ(engine->status.get(), GazeStatus::tracking("Display 2"));
    EXPECT_EQ(countLogged(stalled), 1u);
}

// A camera chosen in the settings that fails to start: nothing of the last readings may stay
// published or half-settled.
TEST_F(GazeEngineCameraLoss, AFailedRestartLeavesNoGazeAndNoSettlingDisplay) {
    startTracking();
    see(onB);
    see(onB); // display B is settling, not yet settled
    ASSERT_TRUE(engine->gazePoint.get());
    desktop.camera->removeDevice("sim-camera-0");
    engine->restartCamera();
    EXPECT_FALSE(engine->isPipelineLive());
    EXPECT_EQ(engine->status.get(), GazeStatus::waiting(GazeEngine::cameraLostReason));
    EXPECT_EQ(engine->gazePoint.get(), std::nullopt);

    // A reading still in flight starts the settle time afresh.
    desktop.mainQueue->advance(1.0);
    see(onB);
    EXPECT_EQ(activationsOf(terminal), 0u);
}

// Frames without a face, a pause or a lock are no stall: the camera is left alone.
TEST_F(GazeEngineCameraLoss, FacelessFramesAndAPauseAreNoStall) {
    startTracking();
    const int opens = desktop.camera->calls().opens;
    desktop.head->setVisible(false);
    desktop.run(lossSeconds);
    EXPECT_EQ(engine->status.get(), GazeStatus::noFace());
    EXPECT_EQ(desktop.camera->calls().opens, opens);
    engine->setPaused(true);
    desktop.run(lossSeconds);
    engine->setPaused(false);
    desktop.head->setVisible(true);
    desktop.run(1.0);
    EXPECT_EQ(engine->status.get(), GazeStatus::tracking("Display 1"));
    EXPECT_THAT(logged(), Not(Contains(stalled)));
}

} // namespace
} // namespace orvane
