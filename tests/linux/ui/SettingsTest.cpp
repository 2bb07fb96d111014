// The settings window drawn by Qt on the test desktop, over a simulated engine whose pipeline
// runs on the simulated camera (and, for the clips, the Linux camera service).

#include "backends/linux/camera/V4l2CameraService.hpp"
#include "orvane/engine/EngineFixture.hpp"
#include "ui/SettingsView.hpp"
#include "ui/ViewSymbols.hpp"
#include "ui/WindowPresenter.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace orvane {
namespace {

class X11Ui_Settings : public testing::EngineFixture {
protected:
    X11Ui_Settings() : calibration(CalibrationController::make()) {
        engine->start();
        desktop.run(1.0);
    }

    void open() {
        if (!view) {
            view = std::make_unique<ui::SettingsView>(engine, calibration,
                                                      [this] { ++recalibrations; });
        }
        ui::presentWindow(*view, "Orvane Settings", 500, 620);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }

    template <class Widget> Widget* find(const char* name) const {
        auto* widget = view->findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString textOf(const char* name) const { return find<QLabel>(name)->text(); }
    QStringList cameraNames() const {
        QStringList names;
        auto* picker = find<QComboBox>("cameraPicker");
        for (int i = 0; i < picker->count(); ++i) {
            names << picker->itemText(i);
        }
        return names;
    }
    // The user gives `widget` the keyboard and presses `key`.
    void press(QWidget* widget, Qt::Key key) {
        view->findChild<QScrollArea*>()->ensureWidgetVisible(widget);
        widget->setFocus();
        QTest::keyClick(widget, key);
    }
    int cameraStarts() const { return desktop.camera->calls().starts; }

    void shoot(const char* name) const {
        if (const char* directory = std::getenv("ORVANE_UI_SHOTS")) {
            QCoreApplication::processEvents(); // pending layouts
            view->grab().save(QString(directory) + "/" + name + ".png");
        }
    }

    std::shared_ptr<CalibrationController> calibration;
    std::unique_ptr<ui::SettingsView> view;
    int recalibrations = 0;
};

TEST_F(X11Ui_Settings, StoredValuesShowAsReadAndShowingWritesNothing) {
    preferences().setInteger(PrefKey::settleMilliseconds, -20);
    preferences().setInteger(PrefKey::paneDelayMilliseconds, 470); // between two steps
    preferences().setReal(PrefKey::turnThreshold, 40);
    preferences().setReal(PrefKey::typingPauseSeconds, 1.5);
    preferences().setBool(PrefKey::moveCursor, false);
    const int starts = cameraStarts();
    open();
    shoot("settings");
    EXPECT_EQ(textOf("settleValue"), "0 ms");
    EXPECT_EQ(find<QSlider>("settleSlider")->value(), 0);
    EXPECT_EQ(textOf("paneDelayValue"), "470 ms");
    EXPECT_EQ(textOf("turnValue"), "40%");
    EXPECT_EQ(textOf("typingPauseValue"), "1.5 s");
    EXPECT_FALSE(find<QCheckBox>("moveCursorToggle")->isChecked());
    EXPECT_TRUE(find<QCheckBox>("focusPanesToggle")->isChecked());

    EXPECT_EQ(preferences().integer(PrefKey::settleMilliseconds), -20);
    EXPECT_EQ(preferences().integer(PrefKey::paneDelayMilliseconds), 470);
    EXPECT_FALSE(preferences().string(PrefKey::cameraID));
    EXPECT_EQ(cameraStarts(), starts);

    // Taller than the window: it scrolls, and the last caption can be reached.
    auto* scroll = view->findChild<QScrollArea*>();
    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    shoot("settings-scrolled");
    EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0);
}

TEST_F(X11Ui_Settings, EveryChangeIsWrittenAtOnce) {
    open();
    press(find<QSlider>("settleSlider"), Qt::Key_Right);
    EXPECT_EQ(preferences().integer(PrefKey::settleMilliseconds), 350);
    EXPECT_EQ(textOf("settleValue"), "350 ms");
    press(find<QSlider>("settleSlider"), Qt::Key_End);
    EXPECT_EQ(preferences().integer(PrefKey::settleMilliseconds), 1500);

    press(find<QSlider>("typingPauseSlider"), Qt::Key_Left);
    EXPECT_EQ(preferences().real(PrefKey::typingPauseSeconds), 2.5);
    EXPECT_EQ(textOf("typingPauseValue"), "2.5 s");
    press(find<QSlider>("turnSlider"), Qt::Key_Home);
    EXPECT_EQ(preferences().real(PrefKey::turnThreshold), 0.0);

    press(find<QCheckBox>("showDotToggle"), Qt::Key_Space);
    EXPECT_TRUE(preferences().boolean(PrefKey::showGazeDot));
    press(find<QCheckBox>("learnToggle"), Qt::Key_Space);
    EXPECT_FALSE(preferences().boolean(PrefKey::learnFromClicks));
}

TEST_F(X11Ui_Settings, PickingACameraStoresItOrForgetsItAndRestartsTheCamera) {
    auto desk = sim::SimCamera::defaultDevice();
    desk.uniqueID = "usb-2";
    desk.name = "Desk Camera";
    desktop.camera->addDevice(desk);
    preferences().setString(PrefKey::cameraID, "usb-2");
    open();
    auto* picker = find<QComboBox>("cameraPicker");
    EXPECT_EQ(cameraNames(), (QStringList{"Automatic", "Simulated Camera", "Desk Camera"}));
    EXPECT_EQ(picker->currentText(), "Desk Camera");

    const auto before = desktop.camera->calls();
    press(picker, Qt::Key_Home);
    EXPECT_EQ(picker->currentText(), "Automatic");
    EXPECT_FALSE(preferences().string(PrefKey::cameraID)); // removed, not emptied
    desktop.settle(); // the session stops and starts on the camera's queue
    EXPECT_EQ(desktop.camera->calls().stops, before.stops + 1);
    EXPECT_EQ(desktop.camera->calls().starts, before.starts + 1);

    press(picker, Qt::Key_End);
    EXPECT_EQ(preferences().string(PrefKey::cameraID), "usb-2");
    desktop.settle();
    EXPECT_EQ(desktop.camera->streamingDevices(), std::vector<std::string>{"usb-2"});

    // Chosen once and unplugged since: still shown as the choice, not as "Automatic".
    desktop.camera->removeDevice("usb-2");
    view->refresh();
    EXPECT_EQ(picker->currentText(), "usb-2 (not connected)");
}

TEST_F(X11Ui_Settings, AccuracyDriftAndRecalibrationFollowTheEngine) {
    open();
    engine->fitError = std::nullopt;
    EXPECT_FALSE(find<QWidget>("accuracyRow")->isVisible());
    engine->fitError = 300.0;
    ASSERT_TRUE(find<QWidget>("accuracyRow")->isVisible());
    EXPECT_EQ(textOf("accuracyValue"), "about 300 points off");
    EXPECT_EQ(find<QLabel>("accuracyValue")->palette().color(QPalette::WindowText),
              ui::ViewColors::orange());
    engine->fitError = 299.9;
    EXPECT_EQ(textOf("accuracyValue"), "about 299 points off");
    EXPECT_EQ(find<QLabel>("accuracyValue")->palette().color(QPalette::WindowText),
              ui::ViewColors::secondary(view.get()));

    EXPECT_FALSE(find<QWidget>("driftWarning")->isVisible());
    engine->needsRecalibration = true;
    EXPECT_TRUE(find<QWidget>("driftWarning")->isVisible());
    shoot("settings-drift");

    auto* recalibrate = find<QPushButton>("recalibrateButton");
    calibration->isRunning = true;
    EXPECT_FALSE(recalibrate->isEnabled());
    calibration->isRunning = false;
    QTest::mouseClick(recalibrate, Qt::LeftButton);
    EXPECT_EQ(recalibrations, 1);
}

TEST_F(X11Ui_Settings, ResetLearningForgetsTheModelAndTheEngineAsksForACalibration) {
    open();
    ASSERT_TRUE(find<QWidget>("accuracyRow")->isVisible());
    QTest::mouseClick(find<QPushButton>("resetLearningButton"), Qt::LeftButton);
    EXPECT_FALSE(CalibrationStore::shared().model());
    EXPECT_TRUE(CalibrationStore::shared().samples().empty());
    EXPECT_EQ(engine->status.get(), GazeStatus::needsCalibration());
    EXPECT_FALSE(find<QWidget>("accuracyRow")->isVisible());
}

TEST_F(X11Ui_Settings, EachShowingReadsWhatChangedWhileHidden) {
    const std::string clips = "/tmp/orvane-ui-settings-test/first.avi";
    setenv("ORVANE_CAMERA_FILES", clips.c_str(), 1);
    desktop.services->camera = linuxbackend::makeLinuxCameraService();
    open();
    EXPECT_TRUE(cameraNames().contains("Recorded clip (first.avi)"));
    EXPECT_FALSE(cameraNames().contains("Recorded clip (second.avi)"));
    view->hide();

    preferences().setInteger(PrefKey::settleMilliseconds, 800);
    preferences().setBool(PrefKey::respectMouse, false);
    preferences().setString(PrefKey::cameraID, "file:/tmp/orvane-ui-settings-test/second.avi");
    setenv("ORVANE_CAMERA_FILES", (clips + ":/tmp/orvane-ui-settings-test/second.avi").c_str(), 1);
    desktop.services->camera = linuxbackend::makeLinuxCameraService();
    unsetenv("ORVANE_CAMERA_FILES");
    open();
    EXPECT_EQ(textOf("settleValue"), "800 ms");
    EXPECT_EQ(find<QSlider>("settleSlider")->value(), 16);
    EXPECT_FALSE(find<QCheckBox>("respectMouseToggle")->isChecked());
    EXPECT_EQ(find<QComboBox>("cameraPicker")->currentText(), "Recorded clip (second.avi)");
}

TEST_F(X11Ui_Settings, ComingBackToTheOpenWindowReadsWhatChangedMeanwhile) {
    open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    QWidget elsewhere; // the tray menu, say
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
    preferences().setBool(PrefKey::showGazeDot, true);
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    EXPECT_TRUE(find<QCheckBox>("showDotToggle")->isChecked());
}

} // namespace
} // namespace orvane
