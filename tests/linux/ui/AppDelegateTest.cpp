// The application delegate on the test desktop: real Qt windows over a simulated desktop whose
// permissions, camera and calibration the tests set.

#include "ui/AppDelegate.hpp"
#include "backends/sim/SimDesktop.hpp"
#include "orvane/calibration/CalibrationStore.hpp"
#include "orvane/engine/GazeEngine.hpp"
#include "orvane/support/Relaunch.hpp"
#include "ui/MenuBarController.hpp"

#include <QAction>
#include <QMenu>
#include <QWidget>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane {
namespace {

// Passes every record on, and notes what the delegate had done when it logged its start.
class StartWatcher : public LogSink {
public:
    StartWatcher(std::shared_ptr<LogSink> next, const ui::AppDelegate& delegate)
        : next_(std::move(next)), delegate_(delegate) {}

    void write(LogLevel level, std::string_view subsystem, std::string_view category,
               std::string_view text) override {
        if (text == "Orvane started") {
            const auto* window =
                delegate_.menuBar ? delegate_.menuBar->onboardingWindow() : nullptr;
            setUpShownAtStart = window != nullptr && window->isVisible();
        }
        next_->write(level, subsystem, category, text);
    }

    std::optional<bool> setUpShownAtStart;

private:
    std::shared_ptr<LogSink> next_;
    const ui::AppDelegate& delegate_;
};

bool isShown(const QWidget* window) {
    return window != nullptr && window->isVisible();
}

class X11Ui_AppDelegate : public ::testing::Test {
protected:
    X11Ui_AppDelegate() {
        watcher = std::make_shared<StartWatcher>(desktop.log, delegate);
        desktop.services->logSink = watcher;
        Relaunch::setTerminate([this] { ++terminations; });
    }
    ~X11Ui_AppDelegate() override {
        Relaunch::setTerminate(nullptr);
        delegate.release();
    }

    // A model made for the simulated display, so the engine can run.
    static void calibrate() {
        std::vector<plinth::CalibrationSample> samples;
        for (int i = 0; i < 9; ++i) {
            const double yaw = -0.2 + 0.05 * i;
            const double pitch = (i % 3 - 1) * 0.1;
            samples.push_back({{1, yaw, pitch, 0.5 + 0.01 * (i % 2), 0.5},
                               960 + 4000 * yaw,
                               540 - 2000 * pitch,
                               0.04});
        }
        CalibrationStore::shared().replace(samples);
    }

    std::size_t pendingOnCameraQueues() const {
        std::size_t pending = 0;
        for (const auto& queue : desktop.serialQueues->queues()) {
            pending += queue->pendingCount();
        }
        return pending;
    }

    sim::SimDesktop desktop;
    ui::AppDelegate delegate;
    std::shared_ptr<StartWatcher> watcher;
    int terminations = 0;
};

TEST_F(X11Ui_AppDelegate, WithoutCalibrationTheSetUpWindowIsOpenBeforeTheStartIsLogged) {
    delegate.applicationDidFinishLaunching();

    ASSERT_TRUE(delegate.engine && delegate.calibration && delegate.coordinator &&
                delegate.menuBar);
    EXPECT_EQ(delegate.engine->status.get(), GazeStatus::needsCalibration());
    EXPECT_EQ(watcher->setUpShownAtStart, true);
    EXPECT_EQ(desktop.log->lines(LogLevel::info).back(), "Orvane started");
    // The calibration draws through Qt from now on, and only for as long as the delegate lives.
    EXPECT_NE(platform().uiToolkit, nullptr);
    delegate.release();
    EXPECT_EQ(platform().uiToolkit, nullptr);
}

TEST_F(X11Ui_AppDelegate, WhenSetUpIsCompleteNoWindowOpensAndAnotherStartShowsTheSettings) {
    calibrate();
    delegate.applicationDidFinishLaunching();

    EXPECT_FALSE(delegate.engine->status.get().needsSetUp())
        << describe(delegate.engine->status.get());
    EXPECT_EQ(watcher->setUpShownAtStart, false);
    EXPECT_EQ(delegate.menuBar->onboardingWindow(), nullptr);

    delegate.activate();
    EXPECT_TRUE(isShown(delegate.menuBar->settingsWindow()));
    EXPECT_EQ(delegate.menuBar->onboardingWindow(), nullptr);

    // Set-up missing again (the camera was taken away): another start shows the set-up.
    delegate.menuBar->settingsWindow()->close();
    delegate.engine->status = GazeStatus::needsCamera();
    delegate.activate();
    EXPECT_TRUE(isShown(delegate.menuBar->onboardingWindow()));
    EXPECT_FALSE(isShown(delegate.menuBar->settingsWindow()));
}

// The tray icon comes first, alone: the camera, the guards and the set-up window wait for the
// engine's start, which a quit before it leaves undone.
TEST_F(X11Ui_AppDelegate, TheTrayIconShowsBeforeAnythingStarts) {
    calibrate();
    delegate.showInTray();
    ASSERT_TRUE(delegate.engine && delegate.calibration && delegate.coordinator &&
                delegate.menuBar);
    desktop.run(1.0);
    EXPECT_TRUE(desktop.camera->streamingDevices().empty());
    EXPECT_EQ(desktop.inputMonitor->monitorCount(), 0u);
    EXPECT_EQ(watcher->setUpShownAtStart, std::nullopt); // "Orvane started" not logged yet

    delegate.startEngine();
    desktop.run(1.0);
    EXPECT_FALSE(desktop.camera->streamingDevices().empty());
    EXPECT_GT(desktop.inputMonitor->monitorCount(), 0u);
    EXPECT_EQ(watcher->setUpShownAtStart, false);
}

TEST_F(X11Ui_AppDelegate, QuittingBeforeTheStartStopsNothingThatRuns) {
    calibrate();
    delegate.showInTray();
    delegate.applicationWillTerminate();
    desktop.settle();
    EXPECT_TRUE(desktop.camera->streamingDevices().empty());
    EXPECT_EQ(desktop.inputMonitor->monitorCount(), 0u);
    EXPECT_EQ(pendingOnCameraQueues(), 0u);
}

TEST_F(X11Ui_AppDelegate, QuittingStopsTheEngineOnceAndOnlyIfThereIsOne) {
    delegate.applicationWillTerminate(); // before launching: nothing to stop
    EXPECT_EQ(delegate.engine, nullptr);

    calibrate();
    delegate.applicationDidFinishLaunching();
    desktop.run(1.0);
    ASSERT_FALSE(desktop.camera->streamingDevices().empty());
    ASSERT_GT(desktop.inputMonitor->monitorCount(), 0u);

    delegate.applicationWillTerminate();
    desktop.settle();
    EXPECT_TRUE(desktop.camera->streamingDevices().empty());
    EXPECT_EQ(desktop.inputMonitor->monitorCount(), 0u);
    // A stop hands the camera queue a reset; a second quit hands it nothing more.
    const auto stops = desktop.camera->calls().stops;
    delegate.applicationWillTerminate();
    EXPECT_EQ(pendingOnCameraQueues(), 0u);
    EXPECT_EQ(desktop.camera->calls().stops, stops);
}

TEST_F(X11Ui_AppDelegate, RelaunchFromTheMenuStartsACopyThatWaitsThenQuits) {
    desktop.accessibility->setTrusted(false);
    delegate.applicationDidFinishLaunching();
    ASSERT_EQ(delegate.engine->status.get(), GazeStatus::needsAccessibility());

    QAction* relaunch = nullptr;
    for (QAction* action : delegate.menuBar->menu().actions()) {
        if (action->text() == "Relaunch Orvane") {
            relaunch = action;
        }
    }
    ASSERT_NE(relaunch, nullptr);
    ASSERT_TRUE(relaunch->isEnabled());
    relaunch->trigger();

    const std::vector<std::vector<std::string>> expected{
        {"/opt/orvane/bin/orvane", "--after", std::to_string(sim::SimProcessInfo::ownID)}};
    EXPECT_EQ(desktop.processInfo->spawned(), expected);
    EXPECT_EQ(terminations, 1);
}

} // namespace
} // namespace orvane
