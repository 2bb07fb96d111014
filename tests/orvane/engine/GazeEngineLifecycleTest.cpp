#include "orvane/engine/EngineFixture.hpp"
#include "orvane/engine/GazeEngine.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orvane {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

class GazeEngineLifecycle : public testing::EngineFixture {
protected:
    GazeEngineLifecycle() {
        statusLog = engine->status.subscribe(
            [this](const GazeStatus& status) { statuses.push_back(status); });
    }

    void fire(WorkspaceEvent event) {
        desktop.workspace->fire(event);
        desktop.settle();
    }

    std::vector<GazeStatus> statuses;
    Subscription statusLog;
};

TEST_F(GazeEngineLifecycle, StartsItsPipelineWhenEverythingIsReady) {
    engine->start();
    EXPECT_THAT(statuses, ElementsAre(GazeStatus::needsCamera(), GazeStatus::waiting("starting"),
                                      GazeStatus::noFace()));
    EXPECT_TRUE(engine->isPipelineLive());
    EXPECT_THAT(logged(), Contains("pipeline started"));
    desktop.run(1.0);
    EXPECT_EQ(engine->status.get(), GazeStatus::tracking("Display 1"));
    EXPECT_EQ(engine->fitError.get(), CalibrationStore::shared().model()->meanError);
}

TEST_F(GazeEngineLifecycle, WaitsForCalibrationThenStartsWithinATick) {
    CalibrationStore::shared().clear();
    engine->start();
    EXPECT_EQ(engine->status.get(), GazeStatus::needsCalibration());
    desktop.run(3.0);
    EXPECT_FALSE(cameraStreams());
    EXPECT_EQ(desktop.camera->calls().starts, 0);

    calibrate();
    engine->recalibrated();
    EXPECT_EQ(engine->status.get(), GazeStatus::waiting("starting"));
    desktop.run(1.5);
    EXPECT_TRUE(engine->isPipelineLive());
    EXPECT_TRUE(cameraStreams());
}

TEST_F(GazeEngineLifecycle, NoticesPermissionsGrantedAndWithdrawn) {
    desktop.camera->setAuthorization(CameraAuthorization::denied);
    engine->start();
    EXPECT_EQ(engine->status.get(), GazeStatus::needsCamera());
    desktop.camera->setAuthorization(CameraAuthorization::authorized);
    desktop.accessibility->setTrusted(false);
    desktop.run(1.5);
    EXPECT_EQ(engine->status.get(), GazeStatus::needsAccessibility());
    EXPECT_FALSE(cameraStreams());

    desktop.accessibility->setTrusted(true);
    desktop.run(2.0);
    ASSERT_TRUE(engine->isPipelineLive());
    ASSERT_TRUE(engine->gazePoint.get());

    desktop.accessibility->setTrusted(false);
    desktop.run(1.5);
    EXPECT_FALSE(engine->isPipelineLive());
    EXPECT_FALSE(cameraStreams());
    EXPECT_FALSE(engine->gazePoint.get());
    EXPECT_EQ(engine->status.get(), GazeStatus::needsAccessibility());
    EXPECT_EQ(countLogged("permissions withdrawn — pipeline stopped"), 1u);
}

TEST_F(GazeEngineLifecycle, PauseStopsTheCameraAndResumeStartsItCold) {
    startTracking();
    engine->setPaused(true);
    desktop.run(3.0);
    EXPECT_EQ(engine->status.get(), GazeStatus::paused());
    EXPECT_FALSE(engine->gazePoint.get());
    EXPECT_FALSE(cameraStreams());
    EXPECT_EQ(engine->guards().monitorCount(), 4u); // the input guards keep watching

    engine->setPaused(false);
    EXPECT_EQ(engine->status.get(), GazeStatus::noFace());
    desktop.run(1.0);
    EXPECT_EQ(engine->status.get(), GazeStatus::tracking("Display 1"));

    // Resuming for displays the model was not made for keeps the pipeline off.
    engine->setPaused(true);
    desktop.displays->setFrames({{0, 0, 2560, 1440}});
    engine->setPaused(false);
    EXPECT_EQ(engine->status.get(), GazeStatus::needsCalibration());
    desktop.run(2.0);
    EXPECT_FALSE(cameraStreams());
}

TEST_F(GazeEngineLifecycle, StartingWhilePausedLeavesTheCameraOff) {
    engine->setPaused(true);
    engine->start();
    desktop.run(3.0);
    EXPECT_EQ(desktop.camera->calls().starts, 0);
    EXPECT_EQ(engine->status.get(), GazeStatus::paused());
}

TEST_F(GazeEngineLifecycle, TheCameraStaysOffBehindTheLockScreen) {
    startTracking();
    fire(WorkspaceEvent::screenLocked);
    EXPECT_EQ(engine->status.get(), GazeStatus::waiting("screen locked"));
    desktop.run(5.0); // permission ticks do not restart it
    EXPECT_FALSE(cameraStreams());
    EXPECT_FALSE(engine->isPipelineLive());
    const std::size_t samples = CalibrationStore::shared().samples().size();
    desktop.click(onA);
    desktop.settle();
    EXPECT_EQ(CalibrationStore::shared().samples().size(), samples);

    // Waking the machine does not unlock the screen.
    fire(WorkspaceEvent::willSleep);
    fire(WorkspaceEvent::didWake);
    desktop.run(2.0);
    EXPECT_FALSE(cameraStreams());

    fire(WorkspaceEvent::screenUnlocked);
    desktop.run(1.0);
    EXPECT_TRUE(cameraStreams());
    EXPECT_EQ(engine->status.get(), GazeStatus::tracking("Display 1"));
}

TEST_F(GazeEngineLifecycle, SleepStopsTheCameraUntilWake) {
    startTracking();
    fire(WorkspaceEvent::willSleep);
    const auto before = engine->status.get();
    // Readings still in flight when the machine went to sleep are dropped, as behind the lock.
    lookAt(onB, 1.0);
    EXPECT_EQ(engine->gazePoint.get(), std::nullopt);
    EXPECT_EQ(activationsOf(terminal), 0u);
    EXPECT_EQ(engine->status.get(), before);
    desktop.run(3.0);
    EXPECT_FALSE(cameraStreams());
    fire(WorkspaceEvent::didWake);
    desktop.run(1.0);
    EXPECT_TRUE(cameraStreams());
    EXPECT_EQ(engine->status.get(), GazeStatus::tracking("Display 1"));
}

TEST_F(GazeEngineLifecycle, ADisplayChangeForgetsTheFocusedDisplay) {
    startTracking();
    ASSERT_TRUE(engine->activeScreenKey());
    fire(WorkspaceEvent::displaysChanged); // same arrangement, rearranged
    EXPECT_FALSE(engine->activeScreenKey());
    EXPECT_EQ(engine->status.get(), GazeStatus::tracking("Display 1"));

    desktop.displays->setFrames(
        {{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}, {-1920, 0, 1920, 1080}});
    fire(WorkspaceEvent::displaysChanged);
    EXPECT_EQ(engine->status.get(), GazeStatus::needsCalibration());
    desktop.run(1.5);
    EXPECT_FALSE(cameraStreams());
    EXPECT_EQ(countLogged("permissions withdrawn — pipeline stopped"), 1u);
}

TEST_F(GazeEngineLifecycle, StartingTwiceKeepsOneTimer) {
    engine->start();
    engine->start();
    EXPECT_EQ(desktop.mainQueue->activeTimerCount(), 1u);
    EXPECT_EQ(desktop.workspace->observerCount(), 10u);
    fire(WorkspaceEvent::screenLocked); // handled twice, to the same effect
    EXPECT_FALSE(engine->isPipelineLive());
    EXPECT_TRUE(engine->isScreenLocked());

    engine->stop();
    EXPECT_EQ(desktop.mainQueue->activeTimerCount(), 0u);
    EXPECT_EQ(engine->guards().monitorCount(), 0u);
}

TEST_F(GazeEngineLifecycle, ResettingLearningStopsThePipelineAtTheNextTick) {
    startTracking();
    const int starts = desktop.camera->calls().starts;
    CalibrationStore::shared().clear();
    engine->recalibrated();
    EXPECT_EQ(engine->status.get(), GazeStatus::needsCalibration());
    EXPECT_FALSE(engine->needsRecalibration.get());
    EXPECT_FALSE(engine->fitError.get());
    EXPECT_EQ(desktop.camera->calls().starts, starts);
    desktop.run(1.5);
    EXPECT_FALSE(cameraStreams());
    EXPECT_EQ(countLogged("permissions withdrawn — pipeline stopped"), 1u);
}

TEST_F(GazeEngineLifecycle, ACameraErrorIsRetriedAtEveryTickAndLoggedOnce) {
    desktop.camera->setDevices({});
    engine->start();
    EXPECT_FALSE(engine->isPipelineLive());
    desktop.run(5.0);
    EXPECT_EQ(countLogged("No camera found."), 1u);
    EXPECT_EQ(engine->status.get(), GazeStatus::waiting(GazeEngine::cameraLostReason));

    desktop.camera->addDevice(sim::SimCamera::defaultDevice());
    desktop.run(2.0);
    EXPECT_TRUE(engine->isPipelineLive());
    EXPECT_TRUE(cameraStreams());
    EXPECT_EQ(engine->status.get(), GazeStatus::tracking("Display 1"));
}

TEST_F(GazeEngineLifecycle, ACameraChoiceRestartsOnlyALivePipeline) {
    auto second = sim::SimCamera::defaultDevice();
    second.uniqueID = "usb-second";
    second.name = "Second Camera";
    desktop.camera->addDevice(second);
    startTracking();
    Prefs::shared().setCameraID("usb-second");
    engine->restartCamera();
    desktop.run(0.5);
    EXPECT_THAT(desktop.camera->streamingDevices(), ElementsAre("usb-second"));

    engine->setPaused(true);
    const int opens = desktop.camera->calls().opens;
    engine->restartCamera();
    desktop.run(0.5);
    EXPECT_EQ(desktop.camera->calls().opens, opens);
    EXPECT_FALSE(cameraStreams());
}

} // namespace
} // namespace orvane
