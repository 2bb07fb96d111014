#include "orvane/app/OnboardingFlow.hpp"
#include "orvane/engine/EngineFixture.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace orvane {
namespace {

using ::testing::Contains;
using ::testing::Not;

class OnboardingFlowTest : public testing::EngineFixture {
protected:
    OnboardingFlowTest()
        : calibration(CalibrationController::make()),
          coordinator(std::make_shared<CalibrationCoordinator>(engine, calibration)) {}

    std::shared_ptr<OnboardingFlow> makeFlow() {
        auto made = OnboardingFlow::make(coordinator);
        made->onChange = [this] {
            ++changes;
        };
        return made;
    }

    std::shared_ptr<CalibrationController> calibration;
    std::shared_ptr<CalibrationCoordinator> coordinator;
    int changes = 0;
};

// A desktop-side helper that is switched off until asked, and may refuse.
class FakeBridge : public DesktopBridge {
public:
    DesktopBridgeState state() const override {
        ++asked;
        return {status,
                "Wayland",
                "GNOME Shell 43.9",
                "the Orvane extension of GNOME Shell",
                status == DesktopBridgeStatus::ready ? std::optional<unsigned>(1) : std::nullopt,
                {},
                {}};
    }
    bool enable() override {
        if (refuses) {
            return false;
        }
        status = DesktopBridgeStatus::ready;
        return true;
    }
    DesktopBridgeStatus status = DesktopBridgeStatus::disabled;
    bool refuses = false;
    mutable int asked = 0;
};

TEST_F(OnboardingFlowTest, TheAccessibilityStepWaitsForTheDesktopHelperAndTurnsItOn) {
    auto bridge = std::make_shared<FakeBridge>();
    platform().desktopBridge = bridge;
    auto flow = makeFlow();
    flow->startPolling();
    desktop.run(1.0);
    EXPECT_EQ(bridge->asked, 0) << "asked before its step";
    flow->advance();
    desktop.run(1.0);
    ASSERT_TRUE(flow->bridgeState().has_value());
    EXPECT_EQ(flow->bridgeState()->status, DesktopBridgeStatus::disabled);
    EXPECT_FALSE(flow->canAdvance()) << "trusted, but no window can be reached yet";

    bridge->refuses = true;
    flow->enableBridge();
    EXPECT_TRUE(flow->errorMessage().has_value());
    EXPECT_FALSE(flow->canAdvance());

    bridge->refuses = false;
    flow->enableBridge();
    EXPECT_EQ(flow->bridgeState()->status, DesktopBridgeStatus::ready);
    EXPECT_TRUE(flow->canAdvance());
    flow->advance();
    EXPECT_EQ(flow->step(), OnboardingFlow::calibrationStep);
}

TEST_F(OnboardingFlowTest, TheWaitCountsOnlyOnTheAccessibilityStepAndEndsWithTheFlow) {
    desktop.accessibility->setTrusted(false);
    auto flow = makeFlow();
    flow->startPolling();
    desktop.run(3.0);
    EXPECT_EQ(flow->axWaitSeconds(), 0);
    flow->advance();
    desktop.run(OnboardingFlow::relaunchHintAfter);
    EXPECT_TRUE(flow->showsRelaunchHint());

    // Gone with its window: the timer it left behind does nothing.
    flow.reset();
    const int seen = changes;
    desktop.run(2.0);
    EXPECT_EQ(changes, seen);
}

TEST_F(OnboardingFlowTest, NamesProgramsToRestartOnlyOnceTrustedOnTheAccessibilityStep) {
    desktop.launchApplication(502, "org.example.Files", "Files");
    desktop.openWindow(502, {100, 100, 800, 600});
    desktop.accessibility->removeApplication(502);
    desktop.accessibility->setTrusted(false);
    auto flow = makeFlow();
    flow->startPolling();
    desktop.run(1.0);
    EXPECT_TRUE(flow->programsToRestart().empty()); // the camera step

    flow->advance();
    desktop.run(1.0);
    EXPECT_TRUE(flow->programsToRestart().empty()); // nothing is reachable yet
    desktop.accessibility->setTrusted(true);
    desktop.run(1.0);
    EXPECT_THAT(flow->programsToRestart(), Contains("Files"));

    desktop.accessibility->addApplication(502); // restarted
    desktop.run(1.0);
    EXPECT_THAT(flow->programsToRestart(), Not(Contains("Files")));
}

TEST_F(OnboardingFlowTest, OffersNoRelaunchWhereARelaunchCannotHelp) {
    desktop.words->relaunchNoticesGrant = false;
    desktop.accessibility->setTrusted(false);
    auto flow = makeFlow();
    flow->startPolling();
    flow->advance();
    desktop.run(OnboardingFlow::relaunchHintAfter + 1);
    EXPECT_FALSE(flow->showsRelaunchHint());
}

TEST_F(OnboardingFlowTest, TheCameraAnswerComesOnTheMainQueueAndMayFindTheFlowGone) {
    desktop.camera->setAuthorization(CameraAuthorization::notDetermined);
    desktop.camera->setAccessGrant(false);
    auto flow = makeFlow();
    EXPECT_FALSE(flow->canAdvance());
    flow->requestCameraAccess();
    EXPECT_FALSE(flow->errorMessage()); // not before the main queue runs
    desktop.settle();
    EXPECT_EQ(flow->errorMessage(), desktop.words->cameraDenied);
    EXPECT_FALSE(flow->canAdvance());

    desktop.camera->holdAccessRequests(true);
    flow->requestCameraAccess();
    flow.reset();
    desktop.camera->answerAccessRequests();
    desktop.settle();
    EXPECT_EQ(changes, 1);
}

TEST_F(OnboardingFlowTest, AccessibilityIsAskedForAndItsSettingsOpenedWhenThereAreAny) {
    auto flow = makeFlow();
    flow->openAccessibilitySettings();
    EXPECT_EQ(desktop.accessibility->promptCount(), 1u);
    EXPECT_EQ(desktop.workspace->openedURLs(),
              std::vector<std::string>{desktop.words->accessibilitySettingsURL});

    desktop.words->accessibilitySettingsURL.clear(); // the platform does it by itself
    flow->openAccessibilitySettings();
    EXPECT_EQ(desktop.accessibility->promptCount(), 2u);
    EXPECT_EQ(desktop.workspace->openedURLs().size(), 1u);
}

TEST_F(OnboardingFlowTest, OnlyACalibrationForTheseDisplaysLetsTheCalibrationStepPass) {
    auto flow = makeFlow();
    flow->advance();
    flow->advance();
    ASSERT_EQ(flow->step(), OnboardingFlow::calibrationStep);
    EXPECT_TRUE(flow->canAdvance());

    desktop.displays->setFrames({{0, 0, 2560, 1440}});
    EXPECT_FALSE(flow->canAdvance());

    // A failed run stays on the step with its message; the coordinator restores the engine.
    desktop.head->setVisible(false);
    flow->startCalibration();
    EXPECT_FALSE(flow->canAdvance()); // running
    desktop.run(15.0);
    EXPECT_EQ(flow->step(), OnboardingFlow::calibrationStep);
    ASSERT_TRUE(flow->errorMessage());
    EXPECT_EQ(*flow->errorMessage(),
              "Not enough of your face was visible. Try again with more light.");
    flow->back();
    EXPECT_FALSE(flow->errorMessage()); // a message belongs to its step
}

} // namespace
} // namespace orvane
