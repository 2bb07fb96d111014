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

} // namespace
} // namespace orvane::linuxbackend::test
