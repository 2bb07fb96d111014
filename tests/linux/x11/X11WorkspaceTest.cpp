#include <gtest/gtest.h>

#include "linux/x11/X11Clients.hpp"

#include "backends/linux/x11/X11Displays.hpp"
#include "backends/linux/x11/X11Workspace.hpp"

namespace orvane::linuxbackend::test {
namespace {

TEST(X11_workspace, reportsDisplayChangesOnTheMainQueueUntilTheSubscriptionEnds) {
    REQUIRE_TEST_DESKTOP();
    TestDesktop desktop;
    auto& workspace = *desktop.desktop().workspace();
    int changes = 0;
    auto subscription = workspace.observe(WorkspaceEvent::displaysChanged, [&] { ++changes; });
    ASSERT_TRUE(subscription.isActive());

    // Switching the output's mode reconfigures the screen, as plugging a display in does.
    ASSERT_TRUE(run({"xrandr", "--newmode", "orvane", "10", "1920", "1920", "1920", "1920", "1080",
                     "1080", "1080", "1080"}));
    ASSERT_TRUE(run({"xrandr", "--addmode", "screen", "orvane"}));
    ASSERT_TRUE(run({"xrandr", "--output", "screen", "--mode", "orvane"}));
    ASSERT_TRUE(desktop.waiter().until([&] {
        desktop.mainQueue().runPending();
        return changes > 0;
    }));

    // A second observer tells when the next change has been delivered.
    int witnessed = 0;
    auto witness = workspace.observe(WorkspaceEvent::displaysChanged, [&] { ++witnessed; });
    subscription.reset();
    const int seen = changes;
    ASSERT_TRUE(run({"xrandr", "--output", "screen", "--mode", "3840x1080"}));
    ASSERT_TRUE(desktop.waiter().until([&] {
        desktop.mainQueue().runPending();
        return witnessed > 0;
    }));
    EXPECT_EQ(changes, seen);
    EXPECT_EQ(desktop.desktop().displays()->screens().size(), 3u);

    // Sleep and lock are not watched here: valid, inactive subscriptions.
    EXPECT_FALSE(workspace.observe(WorkspaceEvent::willSleep, [] {}).isActive());
}

TEST(X11_workspace, namesApplicationsByTheirDesktopEntries) {
    REQUIRE_TEST_DESKTOP();
    TestDesktop desktop;
    auto factory = startWidgetFactory(desktop, 1400, 50);
    ASSERT_NE(factory.window, 0u);
    auto application = desktop.desktop().workspace()->runningApplication(factory.pid());
    ASSERT_TRUE(application);
    EXPECT_EQ(application->pid, factory.pid());
    // gtk3-widget-factory's window class and GTK application id lead to its desktop entry.
    EXPECT_EQ(application->bundleIdentifier, "gtk3-widget-factory");
    EXPECT_EQ(application->localizedName, "Widget Factory");
}

} // namespace
} // namespace orvane::linuxbackend::test
