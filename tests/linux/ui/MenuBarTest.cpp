// The tray icon and its menu on the test desktop, with a tray host of the test's own, over a
// simulated engine whose status the tests set.

#include "linux/ui/X11UiTestSupport.hpp"
#include "orvane/engine/EngineFixture.hpp"
#include "ui/MenuBarController.hpp"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <memory>

namespace orvane {
namespace {

using ui::test::waitUntil;

// One line per menu item, as people read it: "---" for a separator, the states in brackets.
QStringList menuLines(const QMenu& menu) {
    QStringList lines;
    for (const QAction* action : menu.actions()) {
        if (action->isSeparator()) {
            lines << "---";
            continue;
        }
        QString line =
            action->text().replace('\t', " [") + (action->text().contains('\t') ? "]" : "");
        if (!action->isEnabled()) {
            line += " [disabled]";
        }
        if (action->isCheckable()) {
            line += action->isChecked() ? " [checked]" : " [unchecked]";
        }
        lines << line;
    }
    return lines;
}

QAction* actionTitled(const QMenu& menu, const QString& title) {
    for (QAction* action : menu.actions()) {
        if (action->text().section('\t', 0, 0) == title) {
            return action;
        }
    }
    return nullptr;
}

// The X window the tray icon draws in, and whether a tray host has taken it in.
struct TrayWindow {
    xcb_window_t window = 0;
    bool embedded = false;
};
TrayWindow trayWindow() {
    TrayWindow found;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (QLatin1String(widget->metaObject()->className()) == "QSystemTrayIconSys") {
            found.window = static_cast<xcb_window_t>(widget->winId());
        }
    }
    if (found.window == 0) {
        return found;
    }
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11->connection();
    auto* tree =
        xcb_query_tree_reply(connection, xcb_query_tree(connection, found.window), nullptr);
    auto* attributes = xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, found.window), nullptr);
    found.embedded = tree && attributes && tree->parent != tree->root &&
                     attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    free(tree);
    free(attributes);
    return found;
}

// The tray host's window, 0 while there is none.
xcb_window_t trayOwner() {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11->connection();
    const char name[] = "_NET_SYSTEM_TRAY_S0";
    auto* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
    xcb_window_t owner = 0;
    if (atom) {
        auto* reply = xcb_get_selection_owner_reply(
            connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
        owner = reply ? reply->owner : 0;
        free(reply);
    }
    free(atom);
    return owner;
}

class X11Ui_MenuBar : public testing::EngineFixture {
protected:
    // One tray host for the whole run: Qt settles on how to reach the tray once per process.
    static void SetUpTestSuite() {
        tray = new QProcess();
        tray->start("trayer",
                    {"--edge", "top", "--align", "right", "--widthtype", "request", "--height",
                     "28", "--SetPartialStrut", "false", "--monitor", "primary"});
        // Before Qt first looks for a tray: one that turns up later makes Qt dock its icons
        // again, and that closes any open menu.
        waitUntil([] { return trayOwner() != 0; });
    }
    static void TearDownTestSuite() {
        tray->terminate();
        tray->waitForFinished(3000);
        delete tray;
        tray = nullptr;
    }

    X11Ui_MenuBar()
        : calibration(CalibrationController::make()),
          coordinator(std::make_shared<CalibrationCoordinator>(engine, calibration)) {}

    ~X11Ui_MenuBar() override {
        controller.reset();
        // Anything a test left open goes with it.
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMessageBox*>(widget)) {
                delete widget;
            }
        }
    }

    // The controller, its icon docked in the tray: a tray icon arriving later would close an
    // open menu, as a new window does.
    void make() {
        ASSERT_TRUE(waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }))
            << "no tray host";
        // The icon of an earlier test may still wait for its deletion: it must not count.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const auto earlier = trayWindow().window;
        controller = std::make_unique<ui::MenuBarController>(engine, calibration, coordinator);
        ASSERT_TRUE(waitUntil([earlier] {
            const auto icon = trayWindow();
            return icon.window != earlier && icon.embedded;
        })) << "the icon was not docked";
    }
    QMenu& menu() { return controller->menu(); }
    void choose(const QString& title) {
        QAction* action = actionTitled(menu(), title);
        ASSERT_NE(action, nullptr) << title.toStdString();
        ASSERT_TRUE(action->isEnabled()) << title.toStdString();
        action->trigger();
    }
    // The user dismisses the outcome; the alert goes with it.
    void closeAlert() {
        ASSERT_NE(controller->alert(), nullptr);
        controller->alert()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(controller->alert(), nullptr);
    }
    bool hasError(const std::string& part) const {
        for (const auto& line : desktop.log->lines(LogLevel::error)) {
            if (line.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    static inline QProcess* tray = nullptr;
    std::shared_ptr<CalibrationController> calibration;
    std::shared_ptr<CalibrationCoordinator> coordinator;
    std::unique_ptr<ui::MenuBarController> controller;
};

TEST_F(X11Ui_MenuBar, theIconSitsInTheTrayAndFollowsTheStatus) {
    ASSERT_NO_FATAL_FAILURE(make());
    auto& icon = controller->trayIcon();
    engine->status = GazeStatus::waiting("typing");
    EXPECT_EQ(icon.toolTip(), QString::fromUtf8("Holding \u2014 typing"));
    EXPECT_EQ(icon.icon().cacheKey(), ui::MenuBarController::icon(StatusIcon::waiting).cacheKey());
    engine->status = GazeStatus::tracking("MID");
    EXPECT_EQ(icon.toolTip(), "Watching MID");
    EXPECT_EQ(icon.icon().cacheKey(), ui::MenuBarController::icon(StatusIcon::tracking).cacheKey());
    engine->status = GazeStatus::needsCamera();
    EXPECT_EQ(icon.toolTip(), "Camera access needed");
    EXPECT_EQ(icon.icon().cacheKey(), ui::MenuBarController::icon(StatusIcon::setup).cacheKey());

    // Every picture is there, drawn at whatever size a tray asks for, odd ones included.
    for (auto which : {StatusIcon::tracking, StatusIcon::waiting, StatusIcon::setup,
                       StatusIcon::paused, StatusIcon::noFace}) {
        for (const int side : {16, 22, 27, 48}) {
            const QImage image = ui::MenuBarController::icon(which).pixmap(side, side).toImage();
            ASSERT_EQ(image.size(), QSize(side, side));
            int opaque = 0;
            for (int y = 0; y < side; ++y) {
                for (int x = 0; x < side; ++x) {
                    opaque += qAlpha(image.pixel(x, y)) > 128 ? 1 : 0;
                }
            }
            EXPECT_GT(opaque * 8, side * side) << StatusPresentation::iconName(which) << side;
        }
    }
}

TEST_F(X11Ui_MenuBar, theMenuFollowsTheStatusAndIsCurrentWhenItOpens) {
    ASSERT_NO_FATAL_FAILURE(make());
    engine->status = GazeStatus::needsAccessibility();
    EXPECT_EQ(
        menuLines(menu()),
        QStringList({"Accessibility access needed [disabled]", "---",
                     QString::fromUtf8("Finish Setup\u2026"), "Relaunch Orvane [disabled]", "---",
                     QString::fromUtf8("Settings\u2026 [Ctrl+,]"), "---", "Quit Orvane [Ctrl+Q]"}));
    controller->setRelaunch([] {});
    QAction* relaunch = actionTitled(menu(), "Relaunch Orvane");
    ASSERT_NE(relaunch, nullptr);
    EXPECT_TRUE(relaunch->isEnabled());
    EXPECT_EQ(relaunch->toolTip(), "Use this if you have already turned on accessibility");

    engine->setPaused(true);
    engine->needsRecalibration = true;
    EXPECT_EQ(
        menuLines(menu()),
        QStringList({"Paused [disabled]", "---", "Resume [Shift+Super+G]",
                     QString::fromUtf8("\u26A0\uFE0E Accuracy has drifted [disabled]"),
                     QString::fromUtf8("Recalibrate\u2026"), "Show Gaze Dot [unchecked]", "---",
                     QString::fromUtf8("Settings\u2026 [Ctrl+,]"), "---", "Quit Orvane [Ctrl+Q]"}));

    // Changed elsewhere (the settings window): the menu shows it as it opens.
    desktop.preferences->setBool(PrefKey::showGazeDot, true);
    menu().popup(QPoint(3700, 40));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu()));
    EXPECT_TRUE(actionTitled(menu(), "Show Gaze Dot")->isChecked());
    // A status going by while the menu is open changes the items in place.
    QAction* heading = menu().actions().front();
    engine->status = GazeStatus::waiting("typing");
    engine->status = GazeStatus::tracking("LEFT");
    EXPECT_EQ(menu().actions().front(), heading);
    EXPECT_EQ(heading->text(), "Watching LEFT");
    menu().hide();
}

TEST_F(X11Ui_MenuBar, pauseComesFromTheMenuAndTheHotKey) {
    engine->start();
    desktop.run(1.0);
    ASSERT_NO_FATAL_FAILURE(make());
    ASSERT_TRUE(controller->hasHotKey());
    ASSERT_TRUE(desktop.hotKeys->isRegistered(Key::g, ModifierFlag::shift | ModifierFlag::command));
    ASSERT_NE(engine->status.get().kind, GazeStatus::Kind::paused);

    choose("Pause");
    EXPECT_TRUE(engine->isPaused());
    EXPECT_EQ(controller->trayIcon().toolTip(), "Paused");
    EXPECT_NE(actionTitled(menu(), "Resume"), nullptr);

    ASSERT_TRUE(desktop.hotKeys->press(Key::g, ModifierFlag::shift | ModifierFlag::command));
    desktop.settle();
    EXPECT_FALSE(engine->isPaused());
    EXPECT_NE(actionTitled(menu(), "Pause"), nullptr);

    // The hot key is the user's to give back: gone with the controller.
    controller.reset();
    EXPECT_FALSE(
        desktop.hotKeys->isRegistered(Key::g, ModifierFlag::shift | ModifierFlag::command));
}

TEST_F(X11Ui_MenuBar, aHotKeyThatCannotBeHadIsLoggedAndNotOffered) {
    desktop.hotKeys->takeByAnotherApplication(Key::g, ModifierFlag::shift | ModifierFlag::command);
    ASSERT_NO_FATAL_FAILURE(make());
    EXPECT_FALSE(controller->hasHotKey());
    EXPECT_TRUE(hasError("Shift+Super+G")) << "the failure was not logged";
    engine->status = GazeStatus::noFace();
    EXPECT_EQ(actionTitled(menu(), "Pause")->text(), "Pause");
}

TEST_F(X11Ui_MenuBar, recalibrationReportsItsOutcome) {
    engine->start();
    desktop.run(1.0);
    ASSERT_NO_FATAL_FAILURE(make());
    choose(QString::fromUtf8("Recalibrate\u2026"));
    ASSERT_TRUE(calibration->isRunning.get());
    EXPECT_FALSE(actionTitled(menu(), QString::fromUtf8("Recalibrate\u2026"))->isEnabled());
    calibration->finish(true, std::nullopt);
    ASSERT_NE(controller->alert(), nullptr);
    EXPECT_EQ(controller->alert()->text(), "Calibration complete");
    EXPECT_EQ(controller->alert()->informativeText(), "Orvane is tracking again.");
    EXPECT_TRUE(controller->alert()->isVisible());
    EXPECT_FALSE(engine->isPaused()) << "running before, running after";
    EXPECT_TRUE(actionTitled(menu(), QString::fromUtf8("Recalibrate\u2026"))->isEnabled());
    closeAlert();

    choose("Pause");
    choose(QString::fromUtf8("Recalibrate\u2026"));
    calibration->finish(false, "Too few samples were collected.");
    ASSERT_NE(controller->alert(), nullptr);
    EXPECT_EQ(controller->alert()->text(), "Calibration stopped");
    EXPECT_EQ(controller->alert()->informativeText(), "Too few samples were collected.");
    EXPECT_TRUE(engine->isPaused()) << "paused before, paused after";
    closeAlert();

    // Cancelled by the user: nothing to report.
    choose(QString::fromUtf8("Recalibrate\u2026"));
    calibration->cancel();
    EXPECT_EQ(controller->alert(), nullptr);
}

TEST_F(X11Ui_MenuBar, theGazeDotFollowsThePreferenceAndTheStatus) {
    desktop.preferences->setBool(PrefKey::showGazeDot, true);
    ASSERT_NO_FATAL_FAILURE(make());
    engine->status = GazeStatus::tracking("LEFT");
    ASSERT_NE(controller->overlay().window(), nullptr);
    engine->gazePoint = plinth::Point{100, 50};
    ASSERT_TRUE(waitUntil([&] { return controller->overlay().window()->isVisible(); }));

    engine->status = GazeStatus::paused();
    EXPECT_EQ(controller->overlay().window(), nullptr) << "a paused engine shows no dot";
    engine->status = GazeStatus::noFace();
    ASSERT_NE(controller->overlay().window(), nullptr);

    choose("Show Gaze Dot");
    EXPECT_FALSE(desktop.preferences->boolean(PrefKey::showGazeDot));
    EXPECT_EQ(controller->overlay().window(), nullptr);
    EXPECT_FALSE(actionTitled(menu(), "Show Gaze Dot")->isChecked());
    engine->gazePoint = plinth::Point{300, 50};
    engine->status = GazeStatus::tracking("LEFT");
    EXPECT_EQ(controller->overlay().window(), nullptr);
    choose("Show Gaze Dot");
    EXPECT_NE(controller->overlay().window(), nullptr);
}

TEST_F(X11Ui_MenuBar, settingsAndSetUpWindowsAreMadeOnceAndBroughtForward) {
    ASSERT_NO_FATAL_FAILURE(make());
    controller->openSettings();
    QWidget* settings = controller->settingsWindow();
    ASSERT_NE(settings, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(settings));
    EXPECT_EQ(settings->windowTitle(), "Orvane Settings");
    EXPECT_EQ(settings->size(), QSize(500, 620));
    settings->close();
    choose(QString::fromUtf8("Settings\u2026"));
    EXPECT_EQ(controller->settingsWindow(), settings);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(settings));

    engine->status = GazeStatus::needsCalibration();
    choose(QString::fromUtf8("Finish Setup\u2026"));
    QWidget* setUp = controller->onboardingWindow();
    ASSERT_NE(setUp, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(setUp));
    EXPECT_EQ(setUp->windowTitle(), "Set up Orvane");
    EXPECT_EQ(setUp->size(), QSize(520, 420));
    controller->openOnboarding();
    EXPECT_EQ(controller->onboardingWindow(), setUp);
}

} // namespace
} // namespace orvane
