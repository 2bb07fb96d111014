// The gaze dot on a real X server with a window manager: one window, centred on each point,
// never in the way of clicks or the keyboard, and never taken for an open menu.

#include "linux/ui/X11UiTestSupport.hpp"
#include "linux/x11/X11TestSupport.hpp"

#include "orvane/guards/SystemGuards.hpp"
#include "ui/GazeOverlay.hpp"

#include <QApplication>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace orvane::ui {
namespace {

using namespace test;

bool isWhite(QRgb p) {
    return qRed(p) > 240 && qGreen(p) > 240 && qBlue(p) > 240;
}

class X11Ui_GazeOverlay : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TEST_DESKTOP();
        platform_ = std::make_unique<InstalledLinuxPlatform>();
        ASSERT_EQ(platform_->problem(), "");
    }

    // The dot is on screen, centred on the root point, 22 points wide.
    bool shownAt(const QWidget& dot, QPoint centre) {
        const int side = static_cast<int>(std::lround(GazeOverlay::size * dot.devicePixelRatioF()));
        const QRect expected(centre - QPoint(side / 2, side / 2), QSize(side, side));
        return waitUntil([&] { return probe_.geometry(dot.winId()) == expected; });
    }

    XProbe probe_;
    std::unique_ptr<InstalledLinuxPlatform> platform_;
};

TEST_F(X11Ui_GazeOverlay, OneWindowCentredOnEachPointUntilSwitchedOff) {
    GazeOverlay overlay;
    overlay.update(plinth::Point{100, 50});
    EXPECT_EQ(overlay.window(), nullptr);

    const auto before = QApplication::topLevelWidgets().size();
    overlay.setVisible(true);
    QWidget* dot = overlay.window();
    ASSERT_NE(dot, nullptr);
    overlay.setVisible(true);
    EXPECT_EQ(overlay.window(), dot);
    EXPECT_EQ(QApplication::topLevelWidgets().size(), before + 1);
    EXPECT_FALSE(dot->isVisible());
    const unsigned long number = dot->winId();
    EXPECT_EQ(SystemGuards::overlayWindowNumber(), number);

    overlay.update(plinth::Point{100, 50});
    EXPECT_TRUE(shownAt(*dot, {100, 50}));
    // A point on another monitor.
    overlay.update(plinth::Point{1500.4, 600});
    EXPECT_TRUE(shownAt(*dot, {1500, 600}));

    overlay.update(std::nullopt);
    EXPECT_TRUE(waitUntil([&] { return !probe_.isViewable(number); }));
    EXPECT_EQ(overlay.window(), dot);
    overlay.update(plinth::Point{2600, 1000});
    EXPECT_TRUE(shownAt(*dot, {2600, 1000}));

    overlay.setVisible(false);
    EXPECT_EQ(overlay.window(), nullptr);
    EXPECT_EQ(SystemGuards::overlayWindowNumber(), std::nullopt);
    EXPECT_TRUE(waitUntil([&] { return !probe_.exists(number); }));
    overlay.update(plinth::Point{100, 50});
    EXPECT_EQ(overlay.window(), nullptr);
}

TEST_F(X11Ui_GazeOverlay, IsRoundAndLetsClicksThroughWithoutTakingFocus) {
    auto below = startXterm(probe_, "below", {100, 100});
    auto other = startXterm(probe_, "other", {700, 100});
    ASSERT_NE(below.window, 0u);
    ASSERT_EQ(probe_.activeWindow(), other.window);
    const QPoint target = probe_.geometry(below.window)->center();

    GazeOverlay overlay;
    overlay.setVisible(true);
    overlay.update(plinth::Point{static_cast<double>(target.x()), static_cast<double>(target.y())});
    const unsigned long dot = overlay.window()->winId();
    ASSERT_TRUE(shownAt(*overlay.window(), target));
    EXPECT_TRUE(probe_.isOverrideRedirect(dot));
    EXPECT_TRUE(probe_.inputShapeIsEmpty(dot));

    // No compositor here: the corners of the square show the white xterm, the rim does not.
    const QRect square = *probe_.geometry(dot);
    const int last = square.width() - 1;
    QImage shot;
    EXPECT_TRUE(waitUntil([&] {
        shot = probe_.grab(square);
        return !isWhite(shot.pixel(last / 2, 0));
    }));
    EXPECT_TRUE(isWhite(shot.pixel(0, 0)));
    EXPECT_TRUE(isWhite(shot.pixel(last, last)));
    EXPECT_FALSE(isWhite(shot.pixel(0, last / 2)));

    probe_.click(target);
    EXPECT_TRUE(waitUntil([&] { return probe_.activeWindow() == below.window; }))
        << "the click did not reach the xterm below the dot";
    EXPECT_EQ(QGuiApplication::focusWindow(), nullptr);
}

TEST_F(X11Ui_GazeOverlay, StaysAboveWindowsRaisedOrKeptAboveAfterItShowed) {
    GazeOverlay overlay;
    overlay.setVisible(true);
    overlay.update(plinth::Point{300, 300});
    ASSERT_TRUE(shownAt(*overlay.window(), {300, 300}));
    const unsigned long dot = overlay.window()->winId();
    ASSERT_TRUE(waitUntil([&] { return probe_.topmostViewable() == dot; }));

    // A window mapped over it (the window manager raises new windows), then one kept above the
    // others, as a picture-in-picture player is.
    auto raised = startXterm(probe_, "raised", {200, 200});
    ASSERT_NE(raised.window, 0u);
    overlay.update(plinth::Point{310, 300});
    EXPECT_TRUE(waitUntil([&] { return probe_.topmostViewable() == dot; }))
        << "a window raised after the dot covers it";

    // Another client's pop-up mapped over it (a menu, a tooltip, a notification).
    const unsigned long menu = probe_.showPopUpMenu(QRect(250, 250, 120, 200));
    ASSERT_TRUE(waitUntil([&] { return probe_.topmostViewable() == menu; }));
    overlay.update(plinth::Point{315, 300});
    EXPECT_TRUE(waitUntil([&] { return probe_.topmostViewable() == dot; }))
        << "a pop-up shown after the dot covers it";
    probe_.destroy(menu);

    auto player = startXterm(probe_, "player", {250, 250});
    ASSERT_NE(player.window, 0u);
    probe_.keepAbove(player.window, true);
    ASSERT_TRUE(
        waitUntil([&] { return probe_.cardinal(player.window, "_NET_WM_STATE").has_value(); }));
    probe_.activate(raised.window);
    ASSERT_TRUE(waitUntil([&] { return probe_.activeWindow() == raised.window; }));
    overlay.update(plinth::Point{320, 300});
    EXPECT_TRUE(waitUntil([&] { return probe_.topmostViewable() == dot; }))
        << "a window kept above covers the dot";
}

TEST_F(X11Ui_GazeOverlay, IsTranslucentUnderACompositor) {
    if (QStandardPaths::findExecutable("xcompmgr").isEmpty()) {
        GTEST_SKIP() << "xcompmgr is not installed";
    }
    linuxbackend::test::ChildProcess compositor({"xcompmgr"});
    ASSERT_TRUE(waitUntil([&] { return probe_.isCompositing(); }));
    auto below = startXterm(probe_, "below", {100, 100});
    ASSERT_NE(below.window, 0u);
    const QPoint target = probe_.geometry(below.window)->center();

    GazeOverlay overlay;
    overlay.setVisible(true);
    overlay.update(plinth::Point{static_cast<double>(target.x()), static_cast<double>(target.y())});
    ASSERT_TRUE(shownAt(*overlay.window(), target));
    const QRect square = *probe_.geometry(overlay.window()->winId());
    const int middle = square.width() / 2;
    // A faint tint of the white below inside a solid rim; the corners untouched. (Looked at
    // until the compositor has drawn the dot's first frame.)
    EXPECT_TRUE(waitUntil([&] {
        const QImage shot = probe_.grab(square);
        const QRgb inside = shot.pixel(middle, middle);
        const QRgb rim = shot.pixel(middle, 1);
        return !isWhite(inside) && std::min({qRed(inside), qGreen(inside), qBlue(inside)}) > 150 &&
               qRed(rim) < qRed(inside) && isWhite(shot.pixel(0, 0));
    })) << "no translucent dot on the white xterm";

    probe_.click(target);
    EXPECT_TRUE(waitUntil([&] { return probe_.activeWindow() == below.window; }));
}

TEST_F(X11Ui_GazeOverlay, IsNoOpenMenuToTheGuards) {
    GazeOverlay overlay;
    overlay.setVisible(true);
    overlay.update(plinth::Point{640, 540});
    const unsigned long dot = overlay.window()->winId();
    ASSERT_TRUE(shownAt(*overlay.window(), {640, 540}));

    const auto windows = platform().windowServer->onScreenWindows();
    ASSERT_TRUE(windows.has_value());
    EXPECT_TRUE(std::any_of(windows->begin(), windows->end(), [&](const WindowRecord& entry) {
        return entry.number == static_cast<std::int64_t>(dot);
    })) << "the window list does not show the dot at all";
    EXPECT_FALSE(SystemGuards::isMenuOpen());

    // A real menu beside it still counts.
    const unsigned long menu = probe_.showPopUpMenu(QRect(700, 500, 120, 200));
    EXPECT_TRUE(waitUntil([] { return SystemGuards::isMenuOpen(); }));
    probe_.destroy(menu);
}

} // namespace
} // namespace orvane::ui
