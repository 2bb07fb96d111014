// The calibration windows on a real X server with a window manager: where they are, what they
// draw, and how Escape ends a run.

#include "linux/ui/X11UiTestSupport.hpp"
#include "linux/x11/X11TestSupport.hpp"

#include "orvane/calibration/CalibrationController.hpp"
#include "orvane/focus/FocusSwitcher.hpp"
#include "ui/CalibrationScreenView.hpp"
#include "ui/QtUiToolkit.hpp"

#include <QApplication>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>

namespace orvane::ui {
namespace {

using namespace test;

// The throw-away desktop's monitors in root coordinates, by display key.
QRect monitorFor(const std::string& key) {
    const int x = std::stoi(key.substr(0, key.find(',')));
    return {x, 0, 1280, 1080};
}

bool isBright(QRgb p) {
    return qRed(p) > 200 && qGreen(p) > 200 && qBlue(p) > 200;
}
bool isOrange(QRgb p) {
    return qRed(p) > 200 && qGreen(p) > 120 && qGreen(p) < 190 && qBlue(p) < 60;
}
bool isGreen(QRgb p) {
    return qGreen(p) > 150 && qRed(p) < 120 && qBlue(p) < 140;
}

int count(const QImage& image, bool (*match)(QRgb)) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            n += match(image.pixel(x, y)) ? 1 : 0;
        }
    }
    return n;
}

// The centre of the bright pixels (the dot's white core; its glow and ring stay dimmer).
std::optional<QPointF> brightCentre(const QImage& image) {
    double sx = 0, sy = 0;
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (isBright(image.pixel(x, y))) {
                sx += x + 0.5;
                sy += y + 0.5;
                ++n;
            }
        }
    }
    if (n < 50) {
        return std::nullopt;
    }
    return QPointF(sx / n, sy / n);
}

// The lowest row holding anything but black, -1 if none.
int lowestLitRow(const QImage& image) {
    for (int y = image.height() - 1; y >= 0; --y) {
        for (int x = 0; x < image.width(); ++x) {
            if (!isBlack(image.pixel(x, y))) {
                return y;
            }
        }
    }
    return -1;
}

class X11Ui_CalibrationScreens : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TEST_DESKTOP();
        // A picture without a face serves as the camera: a run starts and waits for a face.
        setenv("ORVANE_CAMERA_FILES", "/usr/lib/python3/dist-packages/skimage/data/coffee.png", 1);
        platform_ = std::make_unique<InstalledLinuxPlatform>();
        ASSERT_EQ(platform_->problem(), "");
        controller_ = CalibrationController::make();
        platform().uiToolkit = makeQtUiToolkit(controller_);
        displays_ = platform().displays->screens();
        ASSERT_EQ(displays_.size(), 3u);
    }

    void TearDown() override {
        windows_.clear();
        if (controller_) {
            // A frame may still be in the face detector, which goes away with the platform.
            auto drained = std::make_shared<std::atomic<bool>>(false);
            controller_->camera().queue()->async([drained] { drained->store(true); });
            EXPECT_TRUE(waitUntil([&] { return drained->load(); }, 60s));
        }
        controller_.reset();
        // The views go with the event loop's next turn.
        waitUntil([] { return views().empty(); }, 5s);
    }

    // Every calibration view there is, shown or not.
    static std::vector<CalibrationScreenView*> views() {
        std::vector<CalibrationScreenView*> found;
        for (auto* widget : QApplication::topLevelWidgets()) {
            if (auto* view = qobject_cast<CalibrationScreenView*>(widget)) {
                found.push_back(view);
            }
        }
        return found;
    }

    void presentAll() {
        for (const auto& display : displays_) {
            auto window = platform().uiToolkit->presentCalibrationWindow(
                display, FocusSwitcher::key(display));
            ASSERT_NE(window, nullptr);
            windows_.push_back(std::move(window));
        }
        platform().uiToolkit->activateIgnoringOtherApps();
    }

    // Each display's view covers exactly its monitor, as the X server has it.
    bool everyMonitorCovered() {
        int covered = 0;
        for (auto* view : views()) {
            if (view->isVisible() &&
                probe_.geometry(view->winId()) == monitorFor(view->screenID())) {
                ++covered;
            }
        }
        return covered == 3;
    }

    const Display& displayWithKey(const std::string& key) {
        return *std::find_if(displays_.begin(), displays_.end(),
                             [&](const Display& d) { return FocusSwitcher::key(d) == key; });
    }

    XProbe probe_;
    std::unique_ptr<InstalledLinuxPlatform> platform_;
    std::shared_ptr<CalibrationController> controller_;
    std::vector<Display> displays_;
    std::vector<std::unique_ptr<FullScreenWindow>> windows_;
};

TEST_F(X11Ui_CalibrationScreens, CoverEveryMonitorExactlyAboveOtherWindowsOnEveryWorkspace) {
    auto xterm = startXterm(probe_, "beneath", {1400, 200});
    ASSERT_NE(xterm.window, 0u);
    const QRect inside(probe_.geometry(xterm.window)->center(), QSize(1, 1));
    ASSERT_FALSE(isBlack(probe_.grab(inside).pixel(0, 0)));

    controller_->activeScreenID = std::string("0,0");
    presentAll();
    ASSERT_TRUE(waitUntil([&] { return everyMonitorCovered(); }));
    EXPECT_EQ(views().size(), 3u);
    EXPECT_TRUE(waitUntil([&] { return isBlack(probe_.grab(inside).pixel(0, 0)); }))
        << "the xterm still shows through the calibration window";
    // The calibration has the keyboard; another application coming forward stays behind.
    EXPECT_TRUE(waitUntil([&] {
        const auto all = views();
        return std::any_of(all.begin(), all.end(),
                           [&](auto* view) { return view->winId() == probe_.activeWindow(); });
    }));
    // The calibration asks for focus once its first window is exposed, which a loaded server
    // may deliver after the window manager focused it on mapping: the xterm asks again.
    auto asked = std::chrono::steady_clock::time_point{};
    ASSERT_TRUE(waitUntil([&] {
        if (probe_.activeWindow() == xterm.window) {
            return true;
        }
        if (std::chrono::steady_clock::now() - asked > 500ms) {
            asked = std::chrono::steady_clock::now();
            probe_.activate(xterm.window);
        }
        return false;
    })) << "active: "
        << probe_.activeWindow();
    EXPECT_TRUE(isBlack(probe_.grab(inside).pixel(0, 0)))
        << "the xterm came up over the calibration";
    EXPECT_TRUE(everyMonitorCovered());
    for (auto* view : views()) {
        if (!probe_.isOverrideRedirect(view->winId())) {
            EXPECT_EQ(probe_.cardinal(view->winId(), "_NET_WM_DESKTOP"), 0xFFFFFFFFul);
        }
    }

    // Ordered out: the desktop is as it was.
    for (auto& window : windows_) {
        window->orderOut();
    }
    EXPECT_TRUE(waitUntil([&] { return !isBlack(probe_.grab(inside).pixel(0, 0)); }));
}

TEST_F(X11Ui_CalibrationScreens, GoBackToTheirMonitorWhenMovedAway) {
    presentAll();
    ASSERT_TRUE(waitUntil([&] { return everyMonitorCovered(); }));
    const auto all = views();
    auto* mid = *std::find_if(all.begin(), all.end(),
                              [](auto* view) { return view->screenID() == "1280,0"; });
    // The window manager takes a full-screen window along to the monitor it is moved to. The
    // window returns; a window manager that keeps moving it gets a window it does not manage.
    // A correction still under way may leave the window where a move no longer changes it, so
    // a round also ends when the window has been handed over unmanaged.
    for (int round = 0; round < 6 && !probe_.isOverrideRedirect(mid->winId()); ++round) {
        ConfigureWatch watch(mid->winId());
        probe_.move(mid->winId(), {100, 100});
        ASSERT_TRUE(waitUntil([&] {
            return watch.sawMoveAwayFrom(monitorFor("1280,0")) ||
                   probe_.isOverrideRedirect(mid->winId());
        })) << "not moved in round "
            << round;
        ASSERT_TRUE(waitUntil([&] { return everyMonitorCovered(); })) << "round " << round;
    }
    EXPECT_TRUE(waitUntil([&] { return probe_.isOverrideRedirect(mid->winId()); }));
    EXPECT_TRUE(waitUntil([&] { return everyMonitorCovered(); }));
}

TEST_F(X11Ui_CalibrationScreens, EscapeCancelsTheRunWhereverTheKeyboardWas) {
    auto xterm = startXterm(probe_, "elsewhere", {100, 100});
    ASSERT_NE(xterm.window, 0u);
    std::optional<std::pair<bool, std::optional<std::string>>> outcome;
    controller_->start([&](bool success, std::optional<std::string> message) {
        outcome.emplace(success, std::move(message));
    });
    ASSERT_TRUE(controller_->isRunning.get());
    ASSERT_TRUE(waitUntil([&] { return everyMonitorCovered(); }));
    // The screens take the keyboard as soon as the X server lets them.
    ASSERT_TRUE(waitUntil([&] { return probe_.isKeyboardGrabbed(); }));

    // Even with the keyboard sent to another window, Escape reaches the calibration.
    probe_.focus(xterm.window);
    probe_.tapKey("Escape");
    ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); }));
    EXPECT_FALSE(outcome->first);
    EXPECT_EQ(outcome->second, std::nullopt);
    EXPECT_FALSE(controller_->isRunning.get());
    EXPECT_TRUE(waitUntil([&] {
        return std::none_of(views().begin(), views().end(),
                            [&](auto* view) { return probe_.isViewable(view->winId()); });
    }));
}

TEST_F(X11Ui_CalibrationScreens, DrawTheDotOnItsTargetAndTheOtherDisplaysTheirNotice) {
    const Display& mid = displayWithKey("1280,0");
    const QRect monitor = monitorFor("1280,0");
    controller_->currentScreenName = mid.localizedName;
    controller_->activeScreenID = FocusSwitcher::key(mid);
    controller_->dotPosition = plinth::Point{0.12 * 1280, 0.12 * 1080};
    controller_->progress = 0.4;
    presentAll();
    ASSERT_TRUE(waitUntil([&] { return everyMonitorCovered(); }));

    // The core's centre lies on the target the samples are recorded for.
    const QRect around(monitor.x() + 113, 89, 80, 80);
    std::optional<QPointF> centre;
    ASSERT_TRUE(
        waitUntil([&] { return (centre = brightCentre(probe_.grab(around))).has_value(); }));
    EXPECT_NEAR(around.x() - monitor.x() + centre->x(), 153.6, 0.75);
    EXPECT_NEAR(around.y() + centre->y(), 129.6, 0.75);

    // The instructions end 70 points above the bottom; the face row says no face yet.
    const double scale = views().front()->devicePixelRatioF();
    const QRect block(monitor.x(), 1080 - 500, 1280, 500);
    QImage shot = probe_.grab(block);
    const int lowest = lowestLitRow(shot) + block.y();
    EXPECT_LT(lowest, 1080 - 70 * scale);
    EXPECT_GE(lowest, 1080 - 76 * scale);
    EXPECT_GT(count(shot, isOrange), 0);
    EXPECT_EQ(count(shot, isGreen), 0);

    controller_->faceVisible = true;
    EXPECT_TRUE(waitUntil([&] {
        shot = probe_.grab(block);
        return count(shot, isGreen) > 0 && count(shot, isOrange) == 0;
    }));

    // The other displays name the display being calibrated and show no dot.
    for (const char* other : {"0,0", "2560,0"}) {
        const QRect screen = monitorFor(other);
        const QImage middle = probe_.grab(QRect(screen.x(), 500, 1280, 80));
        EXPECT_GT(1280 * 80 - count(middle, [](QRgb p) { return isBlack(p); }), 100) << other;
        EXPECT_FALSE(brightCentre(probe_.grab(QRect(screen.x() + 113, 89, 80, 80))).has_value());
    }

    // Sampling: the core takes the accent colour.
    controller_->dotIsSampling = true;
    const QRect core(monitor.x() + 153, 129, 1, 1);
    EXPECT_TRUE(waitUntil([&] {
        const QRgb p = probe_.grab(core).pixel(0, 0);
        return qBlue(p) > qRed(p) + 60;
    }));
}

} // namespace
} // namespace orvane::ui
