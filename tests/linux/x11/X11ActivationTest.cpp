#include <gtest/gtest.h>

#include "linux/x11/X11Clients.hpp"

#include "backends/linux/x11/X11Connection.hpp"
#include "backends/linux/x11/X11Displays.hpp"
#include "backends/linux/x11/X11WindowList.hpp"
#include "backends/linux/x11/X11WindowServer.hpp"
#include "backends/linux/x11/X11Workspace.hpp"

#include <X11/Xlib.h>

namespace orvane::linuxbackend::test {
namespace {

class X11_activation : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TEST_DESKTOP();
        desktop = std::make_unique<TestDesktop>();
        left = startXterm(*desktop, "orvane-left", 100, 100);
        right = startXterm(*desktop, "orvane-right", 2700, 300);
        ASSERT_NE(left.window, 0u);
        ASSERT_NE(right.window, 0u);
    }

    std::unique_ptr<TestDesktop> desktop;
    RunningClient left, right;
};

TEST_F(X11_activation, activatesAnApplicationsWindowAndReportsIt) {
    auto& workspace = *desktop->desktop().workspace();
    ASSERT_TRUE(workspace.activate(left.pid()));
    EXPECT_EQ(desktop->activeWindow(), left.window);
    ASSERT_TRUE(workspace.activate(right.pid()));
    EXPECT_EQ(desktop->activeWindow(), right.window);
    auto frontmost = workspace.frontmostApplication();
    ASSERT_TRUE(frontmost);
    EXPECT_EQ(frontmost->pid, right.pid());
    EXPECT_EQ(frontmost->bundleIdentifier, "debian-xterm");
    EXPECT_EQ(frontmost->localizedName, "XTerm");
    // The main display follows the active window's centre.
    auto main = desktop->desktop().displays()->mainDisplay();
    ASSERT_TRUE(main);
    EXPECT_EQ(main->frame.x, 2560);
    ASSERT_TRUE(workspace.activate(left.pid()));
    EXPECT_EQ(desktop->desktop().displays()->mainDisplay()->frame.x, 0);
}

TEST_F(X11_activation, refusesAProcessWithoutWindows) {
    auto& workspace = *desktop->desktop().workspace();
    EXPECT_FALSE(workspace.activate(getpid()));
    EXPECT_FALSE(workspace.runningApplication(999999));
    auto own = workspace.runningApplication(getpid());
    ASSERT_TRUE(own); // running, but no window: known by its command name only
    EXPECT_FALSE(own->bundleIdentifier);
}

TEST_F(X11_activation, activatesTheTopmostWindowOfAProcess) {
    // A second window of the same process, stacked above the first.
    auto& workspace = *desktop->desktop().workspace();
    ::Display* display = desktop->connection().display();
    const Window extra =
        XCreateSimpleWindow(display, desktop->connection().root(), 300, 300, 200, 200, 0, 0, 0);
    XStoreName(display, extra, "orvane-extra");
    XMapRaised(display, extra);
    XSync(display, False);
    ASSERT_TRUE(desktop->waiter().until([&] {
        auto windows = X11WindowList::query(desktop->connection());
        return windows && std::any_of(windows->begin(), windows->end(),
                                      [&](const auto& w) { return w.window == extra; });
    }));
    ASSERT_TRUE(workspace.activateWindow(extra));
    ASSERT_EQ(desktop->activeWindow(), extra);
    // Our own process has no other window on screen.
    ASSERT_TRUE(workspace.activate(getpid()));
    EXPECT_EQ(desktop->activeWindow(), extra);
    XDestroyWindow(display, extra);
    XSync(display, False);
}

TEST_F(X11_activation, warpsThePointerInTheGlobalSpaceAndReadsItBackNatively) {
    auto& server = *desktop->desktop().windowServer();
    server.warpPointer({1500.0, 200.0});
    EXPECT_EQ(server.pointerLocation(), (plinth::Point{1500, 1080 - 200}));
    server.warpPointer({3000.0, 1000.0});
    EXPECT_EQ(server.pointerLocation(), (plinth::Point{3000, 80}));
}

} // namespace
} // namespace orvane::linuxbackend::test
