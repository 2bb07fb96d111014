#include "orvane/app/CalibrationCoordinator.hpp"
#include "orvane/engine/EngineFixture.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

namespace orvane {
namespace {

class CalibrationCoordinatorTest : public testing::EngineFixture {
protected:
    CalibrationCoordinatorTest()
        : calibration(CalibrationController::make()),
          coordinator(std::make_unique<CalibrationCoordinator>(engine, calibration)) {
        engine->start();
        desktop.run(1.0);
        engine->needsRecalibration = true;
    }

    // The completion notes the outcome and whether the engine was paused by then.
    void recalibrate() {
        coordinator->recalibrate([this](bool ok, std::optional<std::string>) {
            ++reports;
            succeeded = ok;
            pausedAtCompletion = engine->isPaused();
        });
    }

    std::shared_ptr<CalibrationController> calibration;
    std::unique_ptr<CalibrationCoordinator> coordinator;
    int reports = 0;
    bool succeeded = false;
    std::optional<bool> pausedAtCompletion;
};

TEST_F(CalibrationCoordinatorTest, ARunBorrowsTheCameraAndHandsTheEngineTheNewModel) {
    // The user turns toward each dot (the displays stand in a row at the top).
    auto follow = calibration->dotPosition.subscribe([this](plinth::Point dot) {
        turnToward({std::atof(calibration->activeScreenID.get().c_str()) + dot.x, dot.y}, 0);
    });
    recalibrate();
    EXPECT_TRUE(engine->isPaused());
    EXPECT_FALSE(coordinator->isPaused()); // the user did not ask for a pause
    desktop.run(5.0);
    EXPECT_EQ(desktop.camera->streamingDevices().size(), 1u); // the calibration's only

    desktop.run(18.2);
    EXPECT_EQ(reports, 1);
    EXPECT_TRUE(succeeded);
    EXPECT_EQ(pausedAtCompletion, false); // restored before the caller hears of it
    EXPECT_FALSE(engine->needsRecalibration.get());
    EXPECT_TRUE(engine->isPipelineLive());
    EXPECT_EQ(CalibrationStore::shared().samples().size(), 10u);
}

TEST_F(CalibrationCoordinatorTest, WhatWouldCutARunShortWaitsForItsEnd) {
    int ran = 0;
    coordinator->whenIdle([&ran] { ++ran; });
    EXPECT_EQ(ran, 0); // never inside the caller's call
    desktop.settle();
    EXPECT_EQ(ran, 1);

    recalibrate();
    coordinator->whenIdle([&ran] { ran += 100; }); // replaced by the next
    std::optional<int> reportsByThen;
    coordinator->whenIdle([&] {
        ++ran;
        reportsByThen = reports;
    });
    desktop.run(5.0);
    EXPECT_EQ(ran, 1);
    calibration->cancel();
    desktop.settle();
    EXPECT_EQ(ran, 2);
    EXPECT_EQ(reportsByThen, 1); // after the run's outcome was in
    recalibrate();
    calibration->cancel();
    desktop.settle();
    EXPECT_EQ(ran, 2); // once
}

TEST_F(CalibrationCoordinatorTest, ThePauseStateTheUserWantsIsRestored) {
    recalibrate();
    coordinator->togglePause(); // during a run it only changes what comes afterwards
    EXPECT_TRUE(coordinator->isPaused());
    calibration->cancel();
    EXPECT_EQ(pausedAtCompletion, true);
    EXPECT_TRUE(engine->needsRecalibration.get()); // no new model to take

    // Started while paused: stays paused.
    recalibrate();
    coordinator->togglePause();
    coordinator->togglePause();
    calibration->cancel();
    EXPECT_EQ(pausedAtCompletion, true);

    // Refused at once for want of camera access: restored at once too.
    coordinator->togglePause();
    desktop.camera->setAuthorization(CameraAuthorization::denied);
    recalibrate();
    EXPECT_EQ(reports, 3);
    EXPECT_FALSE(engine->isPaused());
}

TEST_F(CalibrationCoordinatorTest, ASecondRequestOrALostCoordinatorChangesNothing) {
    recalibrate();
    coordinator->recalibrate([](bool, std::optional<std::string>) { FAIL(); });
    coordinator.reset();
    calibration->cancel();
    EXPECT_EQ(reports, 1);
    EXPECT_FALSE(engine->isPaused());
    desktop.run(1.5);
    EXPECT_TRUE(engine->isPipelineLive());
}

} // namespace
} // namespace orvane
