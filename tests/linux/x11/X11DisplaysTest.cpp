#include <gtest/gtest.h>

#include "linux/x11/X11TestSupport.hpp"

#include "backends/linux/x11/X11Displays.hpp"

namespace orvane::linuxbackend::test {
namespace {

// The harness's three 1280x1080 monitors side by side, LEFT primary.
TEST(X11_displays, listsTheMonitorsPrimaryFirstInTheNativeSpace) {
    REQUIRE_TEST_DESKTOP();
    TestDesktop desktop;
    auto screens = desktop.desktop().displays()->screens();
    ASSERT_EQ(screens.size(), 3u);
    EXPECT_EQ(screens[0].frame, (plinth::Rect{0, 0, 1280, 1080}));
    EXPECT_EQ(screens[1].frame, (plinth::Rect{1280, 0, 1280, 1080}));
    EXPECT_EQ(screens[2].frame, (plinth::Rect{2560, 0, 1280, 1080}));
    // Each by the name it was set up with, also the primary that shows the real output.
    EXPECT_EQ(screens[0].localizedName, "LEFT");
    EXPECT_EQ(screens[1].localizedName, "MID");
    EXPECT_EQ(screens[2].localizedName, "RIGHT");
    for (const auto& screen : screens) {
        EXPECT_GE(screen.visibleFrame.width, 1);
        EXPECT_LE(screen.visibleFrame.width, screen.frame.width);
    }
    EXPECT_NE(screens[0].id, screens[1].id);
    EXPECT_NE(screens[1].id, screens[2].id);
}

TEST(X11_displays, convertsRootRectanglesRelativeToThePrimary) {
    // A primary at (1920, 0) 2560x1440, with a 1920x1080 monitor to its left, bottom-aligned.
    const plinth::Rect primary{1920, 0, 2560, 1440};
    EXPECT_EQ(X11Displays::nativeFromRoot(primary, primary), (plinth::Rect{0, 0, 2560, 1440}));
    EXPECT_EQ(X11Displays::nativeFromRoot({0, 360, 1920, 1080}, primary),
              (plinth::Rect{-1920, 0, 1920, 1080}));
    // A monitor above the primary has a positive native y.
    EXPECT_EQ(X11Displays::nativeFromRoot({1920, -1080, 1920, 1080}, primary),
              (plinth::Rect{0, 1440, 1920, 1080}));
    EXPECT_EQ(X11Displays::globalFromRoot({100, 400}, primary), (plinth::Point{-1820, 400}));
    EXPECT_EQ(X11Displays::rootFromGlobal({-1820, 400}, primary), (plinth::Point{100, 400}));
}

} // namespace
} // namespace orvane::linuxbackend::test
