#include "orvane/engine/EngineFixture.hpp"
#include "orvane/engine/GazeEngine.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>

namespace orvane {
namespace {

using ::testing::Contains;
using ::testing::Not;

class GazeEngineDecisions : public testing::EngineFixture {
protected:
    GazeEngineDecisions() { engine->guards().start(); }

    void press(Key key, std::uint64_t modifiers = 0) {
        desktop.pressKey(key, modifiers);
        desktop.mainQueue->runPending();
    }
    void holdModifiers(std::uint64_t modifiers) {
        desktop.changeModifiers(modifiers);
        desktop.mainQueue->runPending();
    }
};

TEST_F(GazeEngineDecisions, SwitchesToTheOtherDisplayAfterTheSettleTimeThenFollowsPanes) {
    see(onB); // arms B
    EXPECT_EQ(activationsOf(terminal), 0u);
    ASSERT_TRUE(engine->gazePoint.get());
    EXPECT_NEAR(engine->gazePoint.get()->x, onB.x, 1.0);

    lookAt(onB, 0.2); // up to 0.2 s after arrival: still settling
    see(onB);         // 0.267 s
    EXPECT_EQ(activationsOf(terminal), 0u);
    const double switchStarted = desktop.clock->monotonic();
    see(onB); // 0.333 s
    EXPECT_EQ(engine->status.get(), GazeStatus::tracking("Display 2"));
    EXPECT_EQ(activationsOf(terminal), 1u);
    EXPECT_EQ(engine->activeScreenKey(), "1920,0");
    // The switch's start on the monotonic clock, for timing it against the window manager.
    char started[32];
    std::snprintf(started, sizeof started, "%.6f", switchStarted);
    EXPECT_THAT(logged(),
                Contains(std::string("focus switch to Display 2 started at ") + started + " s"));
    EXPECT_THAT(logged(), Contains("focused Terminal on Display 2"));

    // Settled on the focused display: the pane path runs, no second display switch.
    lookAt(onB, 1.0);
    EXPECT_EQ(activationsOf(terminal), 1u);
}

TEST_F(GazeEngineDecisions, SettleTimeFollowsThePreferenceAndShortensAfterACopy) {
    preferences().setInteger(PrefKey::settleMilliseconds, -50); // treated as 0
    see(onB);
    EXPECT_EQ(activationsOf(terminal), 0u);
    see(onB);
    EXPECT_EQ(activationsOf(terminal), 1u);

    preferences().setInteger(PrefKey::settleMilliseconds, 300);
    press(Key::c, ModifierFlag::command);
    desktop.mainQueue->advance(3.5); // past the typing pause, within 8 s of the copy
    see(onA);                        // arms A
    see(onA);                        // 0.067 s
    EXPECT_EQ(activationsOf(editor), 0u);
    see(onA); // 0.133 s >= 0.12 s
    EXPECT_EQ(activationsOf(editor), 1u);
}

TEST_F(GazeEngineDecisions, LookingAwayIsAStrictLimitAndDisarms) {
    see(onB);
    const plinth::HeadPose away{0.8, 0, 0, 0.5, 0.5, calibratedArea, desktop.clock->now()};
    engine->handle(away);
    EXPECT_EQ(engine->status.get(), GazeStatus::waiting("looking away"));
    EXPECT_FALSE(engine->gazePoint.get());

    // Back on B: disarmed, so no switch however long the gaze rests there.
    lookAt(onB, 1.0);
    EXPECT_EQ(activationsOf(terminal), 0u);

    engine->handle(plinth::HeadPose{0.79, 0, 0, 0.5, 0.5, calibratedArea, desktop.clock->now()});
    EXPECT_NE(engine->status.get(), GazeStatus::waiting("looking away"));
}

TEST_F(GazeEngineDecisions, NoFaceOrAnUnreadablePoseClearsTheCandidate) {
    lookAt(onB, 0.2);
    engine->handle(std::nullopt);
    EXPECT_EQ(engine->status.get(), GazeStatus::noFace());
    EXPECT_FALSE(engine->gazePoint.get());
    lookAt(onB, 0.2); // the settle time starts again from scratch
    EXPECT_EQ(activationsOf(terminal), 0u);

    auto broken = poseAt(onB);
    broken.yaw = std::numeric_limits<double>::quiet_NaN();
    engine->handle(broken);
    EXPECT_EQ(engine->status.get(), GazeStatus::noFace());
    lookAt(onB, 0.2);
    EXPECT_EQ(activationsOf(terminal), 0u);
}

TEST_F(GazeEngineDecisions, TypingDisarmsUntilTheGazeMovesElsewhere) {
    see(onB); // armed
    press(Key::a);
    lookAt(onB, 1.0);
    EXPECT_EQ(engine->status.get(), GazeStatus::waiting("typing"));
    desktop.mainQueue->advance(3.0);
    lookAt(onB, 1.0); // typing over, still on B: stays disarmed
    EXPECT_EQ(activationsOf(terminal), 0u);
    EXPECT_EQ(engine->status.get(), GazeStatus::waiting("typing"));

    see(onA);         // a glance at A re-arms...
    lookAt(onB, 0.4); // ...and B then switches after the settle time
    EXPECT_EQ(activationsOf(terminal), 1u);
}

TEST_F(GazeEngineDecisions, AHeldShortcutHoldsWithoutDisarming) {
    see(onB);
    holdModifiers(ModifierFlag::command);
    lookAt(onB, 1.0);
    EXPECT_EQ(engine->status.get(), GazeStatus::waiting("shortcut in progress"));
    EXPECT_EQ(activationsOf(terminal), 0u);
    holdModifiers(0);
    see(onB); // the timer kept running
    EXPECT_EQ(activationsOf(terminal), 1u);

    // Shift alone is no shortcut.
    holdModifiers(ModifierFlag::shift);
    see(onB);
    EXPECT_NE(engine->status.get(), GazeStatus::waiting("shortcut in progress"));
}

TEST_F(GazeEngineDecisions, PointerUseHoldsOnlyWhileRespected) {
    desktop.movePointer({500, 500});
    desktop.mainQueue->runPending();
    desktop.mainQueue->advance(1.4);
    see(onB);
    EXPECT_EQ(engine->status.get(), GazeStatus::waiting("using pointer"));

    preferences().setBool(PrefKey::respectMouse, false);
    desktop.movePointer({900, 900});
    desktop.mainQueue->runPending();
    lookAt(onB, 0.4);
    EXPECT_EQ(activationsOf(terminal), 1u);
}

TEST_F(GazeEngineDecisions, NearTheSideEdgeOfAnotherDisplayNeverSwitches) {
    lookAt({1950, 500}, 2.0); // 30 points inside B's left edge
    EXPECT_EQ(engine->status.get(), GazeStatus::waiting("near screen edge"));
    EXPECT_EQ(activationsOf(terminal), 0u);
    lookAt({1961, 500}, 0.4); // 41 points in
    EXPECT_EQ(activationsOf(terminal), 1u);

    // On the display that has focus, the edge does not matter.
    lookAt({3830, 500}, 0.4);
    EXPECT_NE(engine->status.get(), GazeStatus::waiting("near screen edge"));
}

TEST_F(GazeEngineDecisions, SystemStatesHoldSwitchingWithTheirReason) {
    see(onB); // armed
    desktop.secureInput->setEnabled(true);
    see(onB);
    EXPECT_EQ(engine->status.get(), GazeStatus::waiting("secure input"));
    desktop.secureInput->setEnabled(false);

    const auto menu = desktop.windowServer->addWindow({editor,
                                                       0,
                                                       {200, 200, 200, 300},
                                                       sim::SimWindowServer::defaultPopUpMenuLevel,
                                                       "Editor",
                                                       "menu"});
    see(onB);
    EXPECT_EQ(engine->status.get(), GazeStatus::waiting("menu open"));
    desktop.windowServer->closeWindow(menu);
    desktop.windowServer->setMenuOpenInsideWindow(true);
    see(onB);
    EXPECT_EQ(engine->status.get(), GazeStatus::waiting("menu open"));
    desktop.windowServer->setMenuOpenInsideWindow(false);

    desktop.workspace->setOverviewShowing(true);
    see(onB);
    EXPECT_EQ(engine->status.get(), GazeStatus::waiting(desktop.words->overviewReason));
    desktop.workspace->setOverviewShowing(false);

    desktop.launchApplication(601, "com.apple.Spotlight", "Spotlight");
    desktop.workspace->setFrontmost(601);
    see(onB);
    EXPECT_EQ(engine->status.get(), GazeStatus::waiting("Spotlight"));
    desktop.workspace->setFrontmost(editor);

    // Each of these disarmed B: it needs a glance elsewhere first.
    lookAt(onB, 1.0);
    EXPECT_EQ(activationsOf(terminal), 0u);
    EXPECT_TRUE(engine->gazePoint.get()); // published all along, for the dot
}

TEST_F(GazeEngineDecisions, AFailedSwitchIsRetriedOnEveryPose) {
    desktop.closeWindow(terminalWindow);
    lookAt(onB, 0.5);
    EXPECT_EQ(engine->status.get(), GazeStatus::tracking("Display 2"));
    EXPECT_FALSE(engine->activeScreenKey());
    EXPECT_THAT(logged(), Not(Contains(::testing::HasSubstr("focused"))));

    terminalWindow = desktop.openWindow(terminal, {2020, 100, 1600, 900}, "shell");
    see(onB);
    EXPECT_EQ(activationsOf(terminal), 1u);
}

TEST_F(GazeEngineDecisions, OnTheFocusedDisplayTheGazeFollowsToAnotherApplicationsWindow) {
    lookAt(onB, 0.4);
    ASSERT_EQ(activationsOf(terminal), 1u);
    desktop.workspace->setFrontmost(terminal);
    desktop.launchApplication(503, "org.example.Viewer", "Viewer");
    desktop.openWindow(503, {2000, 700, 600, 300}, "picture");

    lookAt({2300, 850}, 0.2); // within the pane delay of the switch
    EXPECT_EQ(activationsOf(503), 0u);
    lookAt({2300, 850}, 0.2);
    EXPECT_EQ(activationsOf(503), 1u);
    EXPECT_EQ(engine->activeScreenKey(), "1920,0");
}

TEST_F(GazeEngineDecisions, DriftRisesOnAFullWindowAndFallsBackByItself) {
    const double far = calibratedArea * 1.5 * 1.5; // ratio 1.5
    for (int pose = 0; pose < 149; ++pose) {
        engine->handle(poseAt(onA, far));
    }
    EXPECT_FALSE(engine->needsRecalibration.get());
    engine->handle(poseAt(onA, far));
    EXPECT_TRUE(engine->needsRecalibration.get());

    // Ratio 1 from here: the mean of the last 150 is 1.25 exactly after 75 poses.
    for (int pose = 0; pose < 74; ++pose) {
        engine->handle(poseAt(onA));
    }
    EXPECT_TRUE(engine->needsRecalibration.get());
    engine->handle(poseAt(onA));
    EXPECT_FALSE(engine->needsRecalibration.get());

    // Poses turned away do not count toward the window.
    engine->recalibrated();
    for (int pose = 0; pose < 200; ++pose) {
        engine->handle(plinth::HeadPose{1.2, 0, 0, 0.5, 0.5, far, desktop.clock->now()});
    }
    EXPECT_FALSE(engine->needsRecalibration.get());
}

TEST_F(GazeEngineDecisions, NothingHappensWhilePausedOrNotReady) {
    engine->setPaused(true);
    lookAt(onB, 1.0);
    EXPECT_EQ(engine->status.get(), GazeStatus::paused());
    EXPECT_EQ(activationsOf(terminal), 0u);

    engine->setPaused(false);
    desktop.displays->setFrames({{0, 0, 1920, 1080}}); // the model was made for two
    engine->handle(poseAt(onA));
    EXPECT_FALSE(engine->gazePoint.get());
}

} // namespace
} // namespace orvane
