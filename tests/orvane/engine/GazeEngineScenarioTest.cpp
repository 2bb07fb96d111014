// Whole stories on virtual time: a virtual user in front of the simulated camera, frames
// through the capture and tracker to the engine, focus moving between simulated windows.

#include "orvane/engine/EngineFixture.hpp"
#include "orvane/engine/GazeEngine.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orvane {
namespace {

using ::testing::Contains;

class GazeEngineScenario : public testing::EngineFixture {
protected:
    GazeEngineScenario() {
        engine->start();
        desktop.run(1.0); // settles on display A, where the user looks
    }
};

TEST_F(GazeEngineScenario, FocusFollowsAHeadTurnToTheOtherDisplay) {
    ASSERT_EQ(engine->status.get(), GazeStatus::tracking("Display 1"));
    ASSERT_EQ(activationsOf(editor), 1u);

    turnToward(onB, 0.2);
    desktop.run(0.4); // the smoothed gaze reaches B and starts settling there
    EXPECT_EQ(activationsOf(terminal), 0u);
    desktop.run(0.6);
    EXPECT_EQ(activationsOf(terminal), 1u);
    EXPECT_EQ(engine->status.get(), GazeStatus::tracking("Display 2"));
    EXPECT_THAT(logged(), Contains("focused Terminal on Display 2"));
    ASSERT_TRUE(engine->gazePoint.get());
    EXPECT_NEAR(engine->gazePoint.get()->x, onB.x, 20);

    turnToward(onA, 0.2);
    desktop.run(1.0);
    EXPECT_EQ(activationsOf(editor), 2u);
}

TEST_F(GazeEngineScenario, TheUsersHandsHoldTheSwitch) {
    desktop.pressKey(Key::a);
    turnToward(onB, 0.2);
    desktop.run(2.0);
    EXPECT_EQ(engine->status.get(), GazeStatus::waiting("typing"));
    EXPECT_EQ(activationsOf(terminal), 0u);

    desktop.run(2.0); // typing over, but B was never armed while the user typed... so it arms
    EXPECT_EQ(activationsOf(terminal), 1u);

    desktop.changeModifiers(ModifierFlag::control);
    turnToward(onA, 0.2);
    desktop.run(2.0);
    EXPECT_EQ(engine->status.get(), GazeStatus::waiting("shortcut in progress"));
    EXPECT_EQ(activationsOf(editor), 1u);
    desktop.changeModifiers(0);
    desktop.run(1.0);
    EXPECT_EQ(activationsOf(editor), 2u);

    desktop.movePointer({300, 300});
    turnToward(onB, 0.2);
    desktop.run(1.0);
    EXPECT_EQ(engine->status.get(), GazeStatus::waiting("using pointer"));
    desktop.run(1.5);
    EXPECT_EQ(activationsOf(terminal), 2u);
}

TEST_F(GazeEngineScenario, LookingAwayAndLeavingTheDeskStopSwitching) {
    desktop.head->turnTo(1.1, 0, 0.2);
    desktop.run(1.0);
    EXPECT_EQ(engine->status.get(), GazeStatus::waiting("looking away"));
    EXPECT_FALSE(engine->gazePoint.get());

    faceToward(onA);
    desktop.run(0.5);
    desktop.head->setVisible(false);
    desktop.run(1.5); // the last pose is held through the grace period
    EXPECT_TRUE(engine->gazePoint.get());
    desktop.run(0.5);
    EXPECT_EQ(engine->status.get(), GazeStatus::noFace());
    EXPECT_FALSE(engine->gazePoint.get());

    desktop.head->setVisible(true);
    faceToward(onB);
    desktop.run(0.2); // a new face starts the settle time from scratch
    EXPECT_EQ(activationsOf(terminal), 0u);
    desktop.run(0.5);
    EXPECT_EQ(activationsOf(terminal), 1u);
}

TEST_F(GazeEngineScenario, AClickTeachesTheModelWhereTheUserLooks) {
    const std::size_t before = CalibrationStore::shared().samples().size();
    desktop.click({onA.x + 40, onA.y + 30});
    desktop.settle();
    ASSERT_EQ(CalibrationStore::shared().samples().size(), before + 1);
    EXPECT_EQ(CalibrationStore::shared().samples().back().targetX, onA.x + 40);

    // Long after the face left, a click teaches nothing.
    desktop.head->setVisible(false);
    desktop.run(3.0);
    desktop.click(onA);
    desktop.settle();
    EXPECT_EQ(CalibrationStore::shared().samples().size(), before + 1);
}

TEST_F(GazeEngineScenario, SittingCloserRaisesTheRecalibrationHintUntilTheUserSitsBack) {
    auto pose = desktop.head->pose();
    pose.width = pose.height = 0.3; // 1.5 times as close
    desktop.head->moveTo(pose, 0.5);
    desktop.run(12.0);
    EXPECT_TRUE(engine->needsRecalibration.get());

    pose.width = pose.height = 0.2;
    desktop.head->moveTo(pose, 0.5);
    desktop.run(12.0);
    EXPECT_FALSE(engine->needsRecalibration.get());
}

TEST_F(GazeEngineScenario, DetectionErrorsAreLoggedAndChangeNothing) {
    desktop.head->setDetectionError("the detector is out of memory");
    desktop.run(1.0);
    EXPECT_THAT(logged(), Contains("vision request failed: the detector is out of memory"));
    EXPECT_EQ(engine->status.get(), GazeStatus::tracking("Display 1"));
    desktop.head->setDetectionError(std::nullopt);
    turnToward(onB, 0.2);
    desktop.run(1.0);
    EXPECT_EQ(activationsOf(terminal), 1u);
}

} // namespace
} // namespace orvane
