#include "orvane/calibration/CalibrationController.hpp"
#include "backends/sim/SimDesktop.hpp"
#include "orvane/calibration/CalibrationStore.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace orvane {
namespace {

using ::testing::Contains;
using ::testing::DoubleNear;
using ::testing::ElementsAre;
using Outcome = std::pair<bool, std::optional<std::string>>;
using Poses = std::vector<plinth::HeadPose>;

const Outcome succeeded{true, std::nullopt};
const Outcome notEnough{false, "Not enough of your face was visible. Try again with more light."};
const Outcome displaysChanged{false, "Your displays changed during calibration. Try again."};

// Yaw maps onto x and pitch onto y, so a head turned toward a point is a perfect reading.
plinth::HeadPose facing(plinth::Point target, double yawOffset = 0, double pitchOffset = 0) {
    return {target.x / 6400 + yawOffset, -target.y / 2000 + pitchOffset, 0, 0, 0, 0.04, 0};
}

// Displays stand in a row at the top, so a display key's x is its global left edge.
class CalibrationRun : public ::testing::Test {
protected:
    CalibrationRun() : controller(CalibrationController::make()) {
        // An earlier calibration and one learnt click, which a failed run must leave alone.
        std::vector<plinth::CalibrationSample> earlier;
        for (auto dot : CalibrationController::targets) {
            const plinth::Point target{dot.x * 1920, dot.y * 1080};
            earlier.push_back({facing(target).features(), target.x, target.y, 0.04});
        }
        CalibrationStore::shared().replace(earlier);
        CalibrationStore::shared().append({facing({500, 500}).features(), 500, 500, 0.04});
    }

    void start() {
        controller->start([this](bool ok, std::optional<std::string> message) {
            outcomes.emplace_back(ok, std::move(message));
        });
    }
    plinth::Point dotTarget() const {
        const auto dot = controller->dotPosition.get();
        return {std::atof(controller->activeScreenID.get().c_str()) + dot.x, dot.y};
    }
    // The user in front of the camera turns toward every dot as it appears.
    void followDots() {
        watch = controller->dotPosition.subscribe([this](plinth::Point) {
            const auto pose = facing(dotTarget());
            desktop.head->turnTo(pose.yaw, pose.pitch, 0);
        });
    }
    // The camera sees nobody; while dot number n samples, `poses(n, target)` arrive instead.
    void feed(std::function<Poses(int, plinth::Point)> poses) {
        desktop.head->setVisible(false);
        watch = controller->dotIsSampling.subscribe([this, poses](bool sampling) {
            for (const auto& pose : sampling ? poses(dotsFed++, dotTarget()) : Poses{}) {
                controller->receive(pose);
            }
        });
    }
    void expectStoreUntouched() {
        EXPECT_EQ(CalibrationStore::shared().samples().size(), 6u);
        EXPECT_TRUE(CalibrationStore::shared().model());
    }
    std::vector<std::string> errors() const { return desktop.log->lines(LogLevel::error); }

    sim::SimDesktop desktop;
    std::shared_ptr<CalibrationController> controller;
    std::vector<Outcome> outcomes;
    int dotsFed = 0;
    Subscription watch;
};

TEST_F(CalibrationRun, AWholeRunFollowedByTheUserIsStored) {
    followDots();
    start();
    std::vector<double> progress;
    auto steps = controller->progress.subscribe([&](double value) { progress.push_back(value); });
    EXPECT_THAT(desktop.log->lines(LogLevel::info),
                Contains("calibration: presenting 1 fullscreen windows"));
    EXPECT_EQ(desktop.uiToolkit->windows().at(0).screenID, "0,0");
    EXPECT_EQ(desktop.uiToolkit->activations(), 1u);

    desktop.run(11.6);
    EXPECT_THAT(outcomes, ElementsAre(succeeded));
    EXPECT_THAT(progress, ElementsAre(0.0, 0.2, 0.4, 0.6, 0.8, 1.0));
    EXPECT_EQ(desktop.uiToolkit->visibleCount(), 0u);
    EXPECT_TRUE(desktop.camera->streamingDevices().empty());
    EXPECT_FALSE(controller->tracker().smoothed());
    const auto& store = CalibrationStore::shared();
    ASSERT_EQ(store.samples().size(), 5u); // the earlier samples and the click are replaced
    EXPECT_EQ(store.samples()[3].targetX, 0.12 * 1920);
    EXPECT_EQ(store.samples()[3].targetY, 0.88 * 1080);
    EXPECT_LT(store.model()->meanError, 20);
}

TEST_F(CalibrationRun, EachDotIsTrimmedByYawAndSparseDotsAreSkipped) {
    desktop.displays->setFrames({{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}});
    const std::map<int, std::vector<double>> yawOffsets{
        {1, {0, 0, 0}},
        {6, {0, 0, 0}},                  // too few: no sample
        {2, {-0.03, 0, 0, 0.01}},        // four: none dropped
        {3, {0.01, 0, 0, -0.05, 0, 0}}}; // six: one dropped at each end
    feed([&](int dot, plinth::Point target) {
        Poses poses;
        for (int i = 0; dot == 0 && i < 12; ++i) { // equal yaws: drop by arrival order
            poses.push_back(facing(target, 0, 0.001 * i));
        }
        const auto offsets = yawOffsets.contains(dot) ? yawOffsets.at(dot) : std::vector(5, 0.0);
        for (double offset : dot == 0 ? std::vector<double>{} : offsets) {
            poses.push_back(facing(target, offset));
        }
        return poses;
    });
    start();
    desktop.run(23.1);

    EXPECT_THAT(outcomes, ElementsAre(succeeded));
    EXPECT_THAT(errors(), ElementsAre("too few poses for target (x: 0.12, y: 0.12)",
                                      "too few poses for target (x: 0.12, y: 0.12)"));
    EXPECT_EQ(desktop.uiToolkit->windows().at(1).screenID, "1920,0");
    EXPECT_EQ(controller->currentScreenName.get(), "Display 2");
    const auto& samples = CalibrationStore::shared().samples();
    ASSERT_EQ(samples.size(), 8u);
    EXPECT_THAT(samples[0].features[2], DoubleNear(facing({960, 540}).pitch + 0.0055, 1e-12));
    EXPECT_THAT(samples[1].features[1], DoubleNear(facing({1689.6, 0}).yaw - 0.005, 1e-12));
    EXPECT_THAT(samples[2].features[1], DoubleNear(facing({230.4, 0}).yaw, 1e-12));
    EXPECT_EQ(samples[5].targetX, 1920 + 0.88 * 1920); // the second display's third dot
}

TEST_F(CalibrationRun, RunsThatAreNotGoodEnoughLeaveTheEarlierCalibration) {
    desktop.head->setVisible(false);
    start();
    desktop.run(11.6);
    EXPECT_THAT(outcomes, ElementsAre(notEnough));
    EXPECT_EQ(errors().size(), 5u);
    expectStoreUntouched();

    // Readings no regression can solve: the store's old model must not pass for the new one.
    feed([](int, plinth::Point) { return Poses(5, {1e300, 1e300, 0, 0, 0, 0.04, 0}); });
    start();
    desktop.run(11.6);
    EXPECT_EQ(outcomes.back(), (Outcome{false, "Calibration could not be solved. Try again."}));
    expectStoreUntouched();
}

TEST_F(CalibrationRun, AMeanErrorOf1200IsTheLimit) {
    // One reading at the centres of five displays in a row: the model can only predict the
    // middle one and misses the others by 2, 1, 0, 1 and 2 display widths.
    auto fiveDisplays = [&](double width) {
        std::vector<plinth::Rect> frames;
        for (int i = 0; i < 5; ++i) {
            frames.push_back({i * width, 0, width, 1000});
        }
        desktop.displays->setFrames(frames);
    };
    feed([](int dot, plinth::Point) { return Poses(dot % 5 == 0 ? 4 : 0); });
    fiveDisplays(1001);
    start();
    desktop.run(57.6);
    EXPECT_EQ(outcomes.back(), (Outcome{false, "Readings were too inconsistent. Try turning your "
                                               "head a little more toward each dot."}));
    expectStoreUntouched();

    fiveDisplays(1000);
    start();
    desktop.run(57.6);
    EXPECT_EQ(outcomes.back(), succeeded);
    EXPECT_EQ(CalibrationStore::shared().model()->meanError, 1200.0);
}

TEST_F(CalibrationRun, EscapeEndsTheRunAtOnceAndAnOverlappingRunGoesOnAlone) {
    followDots();
    start();
    desktop.run(1.0);
    ASSERT_TRUE(controller->dotIsSampling.get());
    controller->cancel();
    controller->cancel(); // reported once only
    EXPECT_THAT(outcomes, ElementsAre(Outcome{false, std::nullopt}));
    EXPECT_FALSE(controller->dotIsSampling.get());
    EXPECT_EQ(desktop.uiToolkit->visibleCount(), 0u);

    // Restarted within the dot: the first run's waits must not drive the second.
    start();
    std::vector<double> progress;
    auto steps = controller->progress.subscribe([&](double value) { progress.push_back(value); });
    desktop.run(1.5); // past the moment the first run's dot would have been recorded
    EXPECT_THAT(progress, ElementsAre(0.0));
    desktop.run(10.1);
    EXPECT_THAT(progress, ElementsAre(0.0, 0.2, 0.4, 0.6, 0.8, 1.0));
    EXPECT_EQ(outcomes.back(), succeeded);
}

TEST_F(CalibrationRun, StartsThatCannotRunReportWhy) {
    desktop.camera->setAuthorization(CameraAuthorization::denied);
    start(); // reported before start returns
    EXPECT_EQ(outcomes.back(), (Outcome{false, "Camera access is required."}));
    EXPECT_TRUE(desktop.uiToolkit->windows().empty());

    desktop.camera->setAuthorization(CameraAuthorization::authorized);
    desktop.camera->setDevices({});
    start();
    EXPECT_EQ(desktop.uiToolkit->visibleCount(), 1u); // shown, then closed again
    controller->start([](bool, std::optional<std::string>) { FAIL() << "a run is going"; });
    desktop.settle();
    EXPECT_EQ(outcomes.back(), (Outcome{false, "No camera found."}));
    EXPECT_EQ(desktop.uiToolkit->visibleCount(), 0u);

    desktop.camera->setDevices({sim::SimCamera::defaultDevice()});
    desktop.uiToolkit->setFailsToMakeWindows(true);
    start();
    desktop.settle();
    EXPECT_EQ(outcomes.back(),
              (Outcome{false, "The calibration screen could not be shown. Try again."}));
    EXPECT_TRUE(desktop.camera->streamingDevices().empty());

    desktop.displays->setScreens({});
    start();
    desktop.settle();
    EXPECT_EQ(outcomes.back(), notEnough);
    EXPECT_EQ(outcomes.size(), 4u);
}

TEST_F(CalibrationRun, DisplaysChangedDuringARunFailItAndStoreNothing) {
    followDots();
    start();
    desktop.run(3.0);
    desktop.displays->setFrames({{0, 0, 1920, 1080}, {1920, 0, 2560, 1440}});
    desktop.workspace->fire(WorkspaceEvent::displaysChanged);
    desktop.settle();
    EXPECT_THAT(outcomes, ElementsAre(displaysChanged));
    EXPECT_EQ(desktop.uiToolkit->visibleCount(), 0u);

    // A change nobody announced is caught before storing.
    start();
    desktop.run(3.0);
    desktop.displays->setFrames({{0, 0, 2560, 1440}, {2560, 0, 1920, 1080}});
    desktop.run(30);
    EXPECT_EQ(outcomes.back(), displaysChanged);
    expectStoreUntouched();
}

TEST_F(CalibrationRun, ACompletionMayStartTheNextRunAndEachRunStartsClean) {
    followDots();
    start();
    desktop.run(11.6);
    ASSERT_TRUE(controller->faceVisible.get());

    bool secondReported = false;
    controller->start([&](bool, std::optional<std::string>) {
        controller->start([&](bool, std::optional<std::string>) { secondReported = true; });
    });
    EXPECT_EQ(controller->progress.get(), 0.0);
    EXPECT_FALSE(controller->faceVisible.get());
    controller->cancel(); // its completion starts the next run
    ASSERT_TRUE(controller->isRunning.get());
    controller->cancel();
    EXPECT_TRUE(secondReported);
}

} // namespace
} // namespace orvane
