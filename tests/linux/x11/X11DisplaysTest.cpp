#include <gtest/gtest.h>

#include "linux/x11/X11Clients.hpp"

#include "backends/linux/x11/X11Displays.hpp"
#include "backends/linux/x11/X11WindowList.hpp"
#include "backends/linux/x11/X11Workspace.hpp"

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

TEST(X11_displays, theMainDisplayIsTheOneHoldingMostOfTheActiveWindow) {
    REQUIRE_TEST_DESKTOP();
    TestDesktop desktop;
    auto xterm = startXterm(desktop, "orvane-main-display", 2700, 300);
    ASSERT_NE(xterm.window, 0u);
    ASSERT_TRUE(desktop.desktop().workspace()->activateWindow(xterm.window));
    const auto frame = X11WindowList::frameOf(desktop.connection(), xterm.window);
    ASSERT_TRUE(frame);
    const auto mainX = [&] {
        const auto main = desktop.desktop().displays()->mainDisplay();
        return main ? main->frame.x : -1.0;
    };

    // A third of it on MID, the rest on RIGHT; then the other way round.
    const int third = static_cast<int>(frame->width / 3);
    ASSERT_TRUE(desktop.moveClient(xterm.window, 2560 - third, 300));
    EXPECT_EQ(mainX(), 2560);
    ASSERT_TRUE(desktop.moveClient(xterm.window, 2560 - 2 * third, 300));
    EXPECT_EQ(mainX(), 1280);

    // Mostly below the desktop's bottom edge, its centre on no monitor: still RIGHT's.
    const int top = 1080 - static_cast<int>(frame->height / 3);
    ASSERT_TRUE(desktop.moveClient(xterm.window, 2700, top));
    EXPECT_EQ(mainX(), 2560);
}

} // namespace
} // namespace orvane::linuxbackend::test
