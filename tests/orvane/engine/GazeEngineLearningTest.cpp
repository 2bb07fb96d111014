#include "orvane/engine/EngineFixture.hpp"
#include "orvane/engine/GazeEngine.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orvane {
namespace {

using ::testing::Contains;
using ::testing::IsEmpty;
using ::testing::Not;

class GazeEngineLearning : public testing::EngineFixture {
protected:
    GazeEngineLearning() { engine->guards().start(); }

    std::size_t sampleCount() const { return CalibrationStore::shared().samples().size(); }
    bool remembers(std::uint32_t window) const {
        for (const auto& [key, number] : engine->switcher().lastWindowPerScreen()) {
            if (number == window) {
                return true;
            }
        }
        return false;
    }
    plinth::Point predictedFor(plinth::Point target) const {
        return CalibrationStore::shared().model()->predict(poseAt(target).features());
    }
};

TEST_F(GazeEngineLearning, AClickNearThePredictionBecomesASample) {
    const std::size_t before = sampleCount();
    see(onA);
    const plinth::Point predicted = predictedFor(onA);
    engine->learn({predicted.x + 699.5, predicted.y}); // on display A
    EXPECT_EQ(sampleCount(), before + 1);
    const auto& added = CalibrationStore::shared().samples().back();
    EXPECT_EQ(added.targetX, predicted.x + 699.5);
    EXPECT_EQ(added.area, calibratedArea);
    ASSERT_TRUE(engine->fitError.get());
    EXPECT_EQ(*engine->fitError.get(), CalibrationStore::shared().model()->meanError);

    // A click on display B makes B the focused display: a settled gaze there follows panes.
    see(onA);
    engine->learn({onA.x + 1100, onA.y + 200}); // B, 1118 points away: too far
    EXPECT_FALSE(engine->activeScreenKey() == "1920,0");
    see(onB);
    engine->learn({onB.x - 100, onB.y});
    EXPECT_EQ(engine->activeScreenKey(), "1920,0");
    lookAt(onB, 0.5);
    EXPECT_THAT(logged(), Not(Contains("focused Terminal on Display 2")));
}

TEST_F(GazeEngineLearning, AFarClickIsRefusedButStillNamesTheUsersWindow) {
    const std::size_t before = sampleCount();
    see(onA);
    const plinth::Point predicted = predictedFor(onA);
    engine->learn({predicted.x + 700.5, predicted.y});
    EXPECT_EQ(sampleCount(), before);
    EXPECT_THAT(logged(), Contains("ignored click 700pt from predicted gaze"));

    engine->learn({2500, 400}); // the terminal's window on B, far from the gaze on A
    EXPECT_EQ(sampleCount(), before);
    EXPECT_TRUE(remembers(terminalWindow.number));
    EXPECT_FALSE(engine->activeScreenKey());
}

TEST_F(GazeEngineLearning, ClicksTeachNothingWhileTypingOrWhenTurnedOff) {
    const std::size_t before = sampleCount();
    desktop.pressKey(Key::a);
    desktop.mainQueue->runPending();
    desktop.mainQueue->advance(1.0);
    see(onA); // 2 s after the keystroke once the click comes
    desktop.mainQueue->advance(1.0);
    engine->learn({2500, 400});
    EXPECT_EQ(sampleCount(), before);
    EXPECT_FALSE(remembers(terminalWindow.number)); // not even noted

    desktop.mainQueue->advance(5.0);
    preferences().setBool(PrefKey::learnFromClicks, false);
    see(onA);
    engine->learn(onA);
    engine->learn({2500, 400});
    EXPECT_EQ(sampleCount(), before);
    EXPECT_FALSE(remembers(terminalWindow.number));
}

TEST_F(GazeEngineLearning, WithoutAModelClicksDoNothing) {
    CalibrationStore::shared().clear();
    see(onA);
    engine->learn({2500, 400});
    EXPECT_THAT(CalibrationStore::shared().samples(), IsEmpty());
    EXPECT_FALSE(remembers(terminalWindow.number));
}

// A click teaches only against a reading of the user facing the displays moments before.
TEST_F(GazeEngineLearning, StaleOrUnusablePosesTeachNothing) {
    const std::size_t before = sampleCount();

    see(onA);
    desktop.mainQueue->advance(2.0); // the face left the view long ago
    engine->learn(onA);
    EXPECT_EQ(sampleCount(), before);

    // A held pose re-delivered during the grace period is no fresh reading.
    const auto held = poseAt(onA);
    engine->handle(held);
    desktop.mainQueue->advance(1.0);
    engine->handle(held);
    desktop.mainQueue->advance(1.0);
    engine->learn(onA);
    EXPECT_EQ(sampleCount(), before);

    see(onA);
    engine->handle(std::nullopt);
    engine->learn(onA);
    EXPECT_EQ(sampleCount(), before);

    see(onA);
    engine->handle(plinth::HeadPose{1.0, 0, 0, 0.5, 0.5, calibratedArea, desktop.clock->now()});
    engine->learn(onA);
    EXPECT_EQ(sampleCount(), before);

    see(onA);
    engine->learn(onA);
    EXPECT_EQ(sampleCount(), before + 1);
}

} // namespace
} // namespace orvane
