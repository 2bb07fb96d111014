// The set-up window drawn by Qt on the test desktop, over a simulated engine, camera and
// accessibility: the permission poll runs on the simulation's virtual clock.

#include "backends/linux/LinuxWords.hpp"
#include "backends/linux/SessionChoice.hpp"
#include "orvane/engine/EngineFixture.hpp"
#include "orvane/focus/FocusSwitcher.hpp"
#include "ui/OnboardingView.hpp"
#include "ui/ViewSymbols.hpp"
#include "ui/WindowPresenter.hpp"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace orvane {
namespace {

class X11Ui_Onboarding : public testing::EngineFixture {
protected:
    X11Ui_Onboarding()
        : calibration(CalibrationController::make()),
          coordinator(std::make_shared<CalibrationCoordinator>(engine, calibration)) {
        *desktop.words = linuxbackend::linuxWords();
    }

    void open() {
        view = std::make_unique<ui::OnboardingView>(engine, calibration, coordinator,
                                                    [this] { ++completions; });
        view->setRelaunch([this] { ++relaunches; });
        ui::presentWindow(*view, "Set up Orvane", 520, 420);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }

    template <class Widget> Widget* find(const char* name) const {
        auto* widget = view->findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    bool shows(const char* name) const { return find<QWidget>(name)->isVisible(); }
    QString textOf(const char* name) const { return find<QLabel>(name)->text(); }
    QPushButton* button() const { return find<QPushButton>("defaultButton"); }
    void click(const char* name) { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }

    // With ORVANE_UI_SHOTS set, the window as drawn goes to that directory for a look.
    void shoot(const char* name) const {
        if (const char* directory = std::getenv("ORVANE_UI_SHOTS")) {
            QCoreApplication::processEvents(); // pending layouts
            view->grab().save(QString(directory) + "/" + name + ".png");
        }
    }

    std::shared_ptr<CalibrationController> calibration;
    std::shared_ptr<CalibrationCoordinator> coordinator;
    std::unique_ptr<ui::OnboardingView> view;
    int completions = 0;
    int relaunches = 0;
};

TEST_F(X11Ui_Onboarding, StepsMoveOnOnlyOnceTheirConditionHolds) {
    CalibrationStore::shared().clear();
    desktop.camera->setAuthorization(CameraAuthorization::notDetermined);
    desktop.accessibility->setTrusted(false);
    open();
    shoot("onboarding-0-camera");
    EXPECT_EQ(textOf("stepCaption"), "Step 1 of 4");
    EXPECT_FALSE(shows("backButton"));
    EXPECT_EQ(button()->text(), "Continue");
    EXPECT_FALSE(button()->isEnabled());
    QTest::keyClick(view.get(), Qt::Key_Return);
    EXPECT_EQ(view->flow().step(), 0);

    click("allowCamera");
    desktop.settle(); // the answer hops to the main queue
    EXPECT_TRUE(shows("cameraGranted"));
    EXPECT_FALSE(shows("allowCamera"));
    ASSERT_TRUE(button()->isEnabled());
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    QTest::keyClick(view.get(), Qt::Key_Return);

    EXPECT_EQ(textOf("stepCaption"), "Step 2 of 4");
    EXPECT_TRUE(shows("backButton"));
    EXPECT_FALSE(button()->isEnabled());
    EXPECT_EQ(find<QPushButton>("openSettings")->text(), "Turn On Accessibility…");
    click("openSettings");
    EXPECT_EQ(desktop.accessibility->promptCount(), 1u);
    desktop.accessibility->setTrusted(true); // granted outside; the poll notices
    desktop.run(1.0);
    EXPECT_TRUE(shows("accessibilityGranted"));
    click("defaultButton");

    EXPECT_EQ(textOf("stepCaption"), "Step 3 of 4");
    EXPECT_TRUE(shows("startCalibration"));
    EXPECT_FALSE(button()->isEnabled()); // nothing calibrated yet
    click("backButton");
    EXPECT_EQ(view->flow().step(), 1);
}

TEST_F(X11Ui_Onboarding, WithEverythingGrantedTheUserGoesStraightThrough) {
    open();
    EXPECT_TRUE(shows("cameraGranted"));
    click("defaultButton");
    EXPECT_TRUE(shows("accessibilityGranted"));
    shoot("onboarding-1-granted");
    click("defaultButton");
    shoot("onboarding-2-calibrate");
    ASSERT_TRUE(button()->isEnabled()); // the fixture's calibration fits these displays
    click("defaultButton");

    EXPECT_EQ(textOf("stepCaption"), "Step 4 of 4");
    EXPECT_EQ(button()->text(), "Done");
    EXPECT_FALSE(shows("backButton"));
    EXPECT_FALSE(shows("accuracyRow")); // no accuracy published yet
    engine->fitError = 87.9;
    EXPECT_EQ(textOf("accuracyLabel"), "Average accuracy: about 87 points");
    EXPECT_EQ(textOf("pauseCallout"),
              "Pause any time with Shift+Super+G, or from the eye icon in the tray.");
    shoot("onboarding-3-done");
    EXPECT_EQ(completions, 0);
    click("defaultButton");
    EXPECT_EQ(completions, 1);
}

TEST_F(X11Ui_Onboarding, ASessionWhereFocusCannotMoveIsNamedAboveEveryStep) {
    open();
    EXPECT_EQ(view->findChild<QLabel*>("unsupportedSession"), nullptr);

    const auto reason = linuxbackend::unsupportedSessionReason(
        [](const char* name) { return std::string(name) == "XDG_SESSION_TYPE" ? "wayland" : ""; });
    platform().unsupportedSession = reason;
    open();
    EXPECT_TRUE(shows("unsupportedSession"));
    EXPECT_EQ(textOf("unsupportedSession").toStdString(), reason);
    shoot("onboarding-unsupported-session");
    // It stays in sight while the user steps through, and takes nothing from the steps.
    click("defaultButton");
    EXPECT_TRUE(shows("unsupportedSession"));
    EXPECT_TRUE(shows("accessibilityGranted"));
    EXPECT_TRUE(button()->isEnabled());
}

// Where a grant can go unnoticed by the running process (not on Linux).
TEST_F(X11Ui_Onboarding, TheRelaunchHintShowsFromTheSixthTickWithoutTheGrant) {
    desktop.words->relaunchNoticesGrant = true;
    desktop.accessibility->setTrusted(false);
    open();
    click("defaultButton");
    desktop.run(5.0);
    EXPECT_FALSE(shows("relaunchCallout"));
    desktop.run(1.0);
    ASSERT_TRUE(shows("relaunchCallout"));
    shoot("onboarding-1-relaunch");
    click("relaunchButton");
    EXPECT_EQ(relaunches, 1);

    click("backButton");
    desktop.run(1.0); // off the step: the count starts again
    click("defaultButton");
    EXPECT_FALSE(shows("relaunchCallout"));
    desktop.run(5.0);
    EXPECT_FALSE(shows("relaunchCallout"));
    desktop.run(1.0);
    EXPECT_TRUE(shows("relaunchCallout"));
}

TEST_F(X11Ui_Onboarding, NamesTheProgramsToRestartInsteadOfOfferingARelaunch) {
    desktop.launchApplication(602, "org.gnome.Nautilus", "Files");
    desktop.openWindow(602, {100, 100, 800, 600});
    desktop.accessibility->removeApplication(602);
    desktop.accessibility->setTrusted(false);
    open();
    click("defaultButton");
    desktop.run(OnboardingFlow::relaunchHintAfter + 1.0);
    EXPECT_FALSE(shows("relaunchCallout"));
    EXPECT_FALSE(shows("restartCallout"));

    desktop.accessibility->setTrusted(true);
    desktop.run(1.0);
    ASSERT_TRUE(shows("restartCallout"));
    const auto* programs = find<QLabel>("restartPrograms");
    EXPECT_EQ(programs->text(),
              "Restart these programs so Orvane can see their windows and password fields: Files");
    // Every line of it shown, not the first alone, once laid out.
    QCoreApplication::processEvents();
    EXPECT_GE(programs->height(), programs->heightForWidth(programs->width()));
    EXPECT_TRUE(button()->isEnabled());
    // A longer list while it shows: still every line.
    desktop.launchApplication(603, "org.example.LongNamedEditor",
                              "A Program Whose Long Name Takes Up Most Of A Line Of Its Own");
    desktop.openWindow(603, {100, 100, 800, 600});
    desktop.accessibility->removeApplication(603);
    desktop.run(1.0);
    QCoreApplication::processEvents();
    EXPECT_GT(programs->heightForWidth(programs->width()), programs->fontMetrics().height() * 2);
    EXPECT_GE(programs->height(), programs->heightForWidth(programs->width()));
    desktop.accessibility->addApplication(603);

    desktop.accessibility->addApplication(602); // restarted
    desktop.run(1.0);
    EXPECT_FALSE(shows("restartCallout"));
}

TEST_F(X11Ui_Onboarding, ARefusedCameraSaysWhereToAllowIt) {
    desktop.camera->setAuthorization(CameraAuthorization::notDetermined);
    desktop.camera->setAccessGrant(false);
    open();
    click("allowCamera");
    desktop.settle();
    EXPECT_TRUE(shows("cameraError"));
    EXPECT_EQ(textOf("cameraError").toStdString(), desktop.words->cameraDenied);
    EXPECT_EQ(find<QLabel>("cameraError")->palette().color(QPalette::WindowText),
              ui::ViewColors::red());
    EXPECT_FALSE(button()->isEnabled());
    shoot("onboarding-0-denied");
}

class X11Ui_Onboarding_Calibration : public X11Ui_Onboarding {
protected:
    X11Ui_Onboarding_Calibration() {
        open();
        click("defaultButton");
        click("defaultButton");
    }
    // The user turns toward each dot as it appears.
    void followDots() {
        watch = calibration->dotPosition.subscribe([this](plinth::Point dot) {
            for (const auto& display : desktop.displays->screens()) {
                if (FocusSwitcher::key(display) == calibration->activeScreenID.get()) {
                    const auto& frame = display.frame;
                    faceToward({frame.x + dot.x, frame.y + dot.y});
                }
            }
        });
    }
    Subscription watch;
};

TEST_F(X11Ui_Onboarding_Calibration, ASuccessfulRunShowsItsProgressAndEndsOnTheLastStep) {
    CalibrationStore::shared().clear();
    followDots();
    click("startCalibration");
    EXPECT_FALSE(shows("startCalibration"));
    EXPECT_FALSE(button()->isEnabled());
    desktop.run(2.5); // the first dot recorded
    EXPECT_TRUE(shows("calibrationProgress"));
    EXPECT_EQ(find<QProgressBar>("calibrationProgress")->value(), 100); // 1 of 10 dots
    EXPECT_EQ(textOf("calibratingLabel"), "Calibrating Display 1");
    shoot("onboarding-2-running");

    desktop.run(22.0);
    EXPECT_EQ(textOf("stepCaption"), "Step 4 of 4");
    EXPECT_TRUE(shows("accuracyRow")); // the coordinator handed the engine the new model
    EXPECT_FALSE(calibration->isRunning.get());
}

TEST_F(X11Ui_Onboarding_Calibration, AFailedRunStaysWithTheMessageInRed) {
    desktop.head->setVisible(false);
    click("startCalibration");
    desktop.run(25.0);
    EXPECT_EQ(view->flow().step(), 2);
    EXPECT_TRUE(shows("startCalibration")); // offered again
    EXPECT_TRUE(shows("calibrationError"));
    EXPECT_EQ(textOf("calibrationError"),
              "Not enough of your face was visible. Try again with more light.");
    shoot("onboarding-2-failed");
}

} // namespace
} // namespace orvane
