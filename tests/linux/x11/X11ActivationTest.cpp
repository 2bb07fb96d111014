#include <gtest/gtest.h>

#include "linux/x11/X11Clients.hpp"

#include "backends/linux/freedesktop/DesktopEntries.hpp"
#include "backends/linux/x11/X11Connection.hpp"
#include "backends/linux/x11/X11Displays.hpp"
#include "backends/linux/x11/X11RaisedWindows.hpp"
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
    EXPECT_EQ(frontmost->applicationId, "debian-xterm");
    EXPECT_EQ(frontmost->localizedName, "XTerm");
    // The main display follows the active window's centre.
    auto main = desktop->desktop().displays()->mainDisplay();
    ASSERT_TRUE(main);
    EXPECT_EQ(main->frame.x, 2560);
    ASSERT_TRUE(workspace.activate(left.pid()));
    EXPECT_EQ(desktop->desktop().displays()->mainDisplay()->frame.x, 0);
}

// A request dated by the user's latest input, when focus has moved since without the user,
// is older than the server's last focus change and goes unheeded: it is asked once more with
// the time now, and arrives. The input's time is asked for each activation.
TEST_F(X11_activation, stillArrivesWhenTheUsersLatestInputIsOlderThanTheLastFocusChange) {
    auto& workspace = *desktop->desktop().workspace();
    ASSERT_TRUE(workspace.activateWindow(left.pid(), static_cast<std::uint32_t>(left.window)));
    int asked = 0;
    workspace.setLastInputTime([&]() -> std::optional<unsigned long> {
        ++asked;
        return 1; // long before this server's last focus change
    });
    ASSERT_TRUE(workspace.activateWindow(right.pid(), static_cast<std::uint32_t>(right.window)));
    EXPECT_EQ(desktop->activeWindow(), right.window);
    ASSERT_TRUE(workspace.activateWindow(left.pid(), static_cast<std::uint32_t>(left.window)));
    EXPECT_EQ(desktop->activeWindow(), left.window);
    EXPECT_EQ(asked, 2);

    // A time the server has reached is heeded as it is.
    const Time now = desktop->connection().serverTime();
    workspace.setLastInputTime([now]() -> std::optional<unsigned long> { return now; });
    ASSERT_TRUE(workspace.activateWindow(right.pid(), static_cast<std::uint32_t>(right.window)));
    EXPECT_EQ(desktop->activeWindow(), right.window);
}

TEST_F(X11_activation, refusesAProcessWithoutWindows) {
    auto& workspace = *desktop->desktop().workspace();
    EXPECT_FALSE(workspace.activate(getpid()));
    EXPECT_FALSE(workspace.runningApplication(999999));
    auto own = workspace.runningApplication(getpid());
    ASSERT_TRUE(own); // running, but no window: known by its command name only
    EXPECT_FALSE(own->applicationId);
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

TEST_F(X11_activation, bringsBackARaisedWindowOnlyUntilTheUserMovesOnToAnother) {
    // Two windows of our own process, side by side (300x200 at x 200 and 700, y 500): the
    // accessibility path raises `first`, then the user clicks `second`.
    auto raised = std::make_shared<X11RaisedWindows>();
    X11Workspace workspace(desktop->desktop().connection(), std::make_shared<DesktopEntries>(),
                           raised, nullptr);
    workspace.setActivationWait(activationWait);
    ::Display* display = desktop->connection().display();
    const Window first = createWindow(display, 200, 500, 300, 200, nullptr, false);
    const Window second = createWindow(display, 700, 500, 300, 200, nullptr, false);
    XMapWindow(display, first);
    XMapWindow(display, second);
    XSync(display, False);
    auto listed = [&](Window window) {
        auto windows = X11WindowList::query(desktop->connection());
        return windows && std::any_of(windows->begin(), windows->end(), [&](const auto& info) {
                   return info.isClient && info.window == window && info.pid == getpid();
               });
    };
    ASSERT_TRUE(desktop->waiter().until([&] { return listed(first) && listed(second); }));
    ASSERT_TRUE(desktop->moveClient(first, 200, 500));
    ASSERT_TRUE(desktop->moveClient(second, 700, 500));

    raised->remember(getpid(), first);
    XRaiseWindow(display, first);
    ASSERT_TRUE(workspace.activate(getpid()));
    EXPECT_EQ(desktop->activeWindow(), first);
    ASSERT_TRUE(workspace.activate(getpid())); // still its frontmost window
    EXPECT_EQ(desktop->activeWindow(), first);

    // The window manager names the active window before it restacks: wait for both. muffin
    // lets the first click there pass without focusing `second` (it releases the press rather
    // than replaying it as a focus click), and mutter may take the raise asked for just above
    // after the click (it is already in front, so nothing shows when it lands): a user clicks
    // again.
    const auto movedOn = [&] {
        if (desktop->activeWindow() != second) {
            return false;
        }
        auto windows = X11WindowList::query(desktop->connection());
        if (!windows) {
            return false;
        }
        const auto at = [&](Window window) {
            return std::find_if(windows->begin(), windows->end(),
                                [&](const auto& info) { return info.window == window; });
        };
        return at(second) < at(first);
    };
    bool clicked = false;
    for (int click = 0; click < 5 && !clicked; ++click) {
        ASSERT_TRUE(run({"xdotool", "mousemove", "850", "650", "click", "1"}));
        clicked = desktop->waiter().until(movedOn, 6s);
    }
    ASSERT_TRUE(clicked);
    ASSERT_TRUE(workspace.activate(getpid()));
    EXPECT_EQ(desktop->activeWindow(), second);

    // Made main without a raise: the activation that follows brings it forward.
    raised->remember(getpid(), first);
    ASSERT_TRUE(workspace.activate(getpid()));
    EXPECT_EQ(desktop->activeWindow(), first);

    XDestroyWindow(display, first);
    XDestroyWindow(display, second);
    XSync(display, False);
}

TEST_F(X11_activation, warpsThePointerAndReadsItBackInTheGlobalSpace) {
    auto& server = *desktop->desktop().windowServer();
    server.warpPointer({1500.0, 200.0});
    EXPECT_EQ(server.pointerLocation(), (plinth::Point{1500, 200}));
    server.warpPointer({3000.0, 1000.0});
    EXPECT_EQ(server.pointerLocation(), (plinth::Point{3000, 1000}));
}

// The window list as X11WindowList gives it, front to back.
X11WindowInfo client(Window window, pid_t pid, std::int64_t layer = X11WindowList::normalLayer) {
    X11WindowInfo info;
    info.window = window;
    info.pid = pid;
    info.isClient = true;
    info.layer = layer;
    return info;
}

TEST(X11_activation_raised, keepsAWindowWhileItIsItsApplicationsFrontmost) {
    X11RaisedWindows raised;
    const std::vector<X11WindowInfo> list{client(9, 200), client(1, 100), client(2, 100)};
    raised.remember(100, 1);
    EXPECT_EQ(raised.windowFor(100, list, 9), 1u); // another application's window above it
    EXPECT_EQ(raised.windowFor(100, list, None), 1u);
    EXPECT_FALSE(raised.windowFor(200, list, 9));

    // Its application's own windows of another layer (a tool palette) do not count.
    const std::vector<X11WindowInfo> palette{client(3, 100, X11WindowList::floatingLayer),
                                             client(1, 100), client(2, 100)};
    EXPECT_EQ(raised.windowFor(100, palette, 3), 1u);
    // Active, it stays even below another of its windows (focus without raise).
    const std::vector<X11WindowInfo> below{client(2, 100), client(1, 100)};
    EXPECT_EQ(raised.windowFor(100, below, 1), 1u);
}

TEST(X11_activation_raised, forgetsAWindowOnceTheUserMovedOnOrItWentAway) {
    X11RaisedWindows raised;
    const std::vector<X11WindowInfo> firstOnTop{client(1, 100), client(2, 100)};
    const std::vector<X11WindowInfo> secondOnTop{client(2, 100), client(1, 100)};

    // Just remembered, it counts once even below: the activation raises it.
    raised.remember(100, 1);
    EXPECT_EQ(raised.windowFor(100, secondOnTop, 2), 1u);
    EXPECT_FALSE(raised.windowFor(100, secondOnTop, None));
    EXPECT_FALSE(raised.windowFor(100, firstOnTop, None)); // forgotten for good

    raised.remember(100, 1);
    EXPECT_EQ(raised.windowFor(100, firstOnTop, 1), 1u);
    EXPECT_FALSE(raised.windowFor(100, firstOnTop, 2)); // the other window is active

    raised.remember(100, 1);
    EXPECT_FALSE(raised.windowFor(100, {client(2, 100)}, 2)); // unmapped or closed
    EXPECT_FALSE(raised.windowFor(100, firstOnTop, 1));

    // Nor is a window of another process taken for it.
    raised.remember(100, 5);
    EXPECT_FALSE(raised.windowFor(100, {client(5, 300), client(1, 100)}, 5));
}

} // namespace
} // namespace orvane::linuxbackend::test
