#include <gtest/gtest.h>

#include "linux/x11/X11Clients.hpp"

#include "backends/linux/x11/X11Displays.hpp"
#include "backends/linux/x11/X11Workspace.hpp"

#include <systemd/sd-bus.h>

#include <functional>
#include <memory>
#include <thread>

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
}

TEST(X11_workspace, reportsTheScreenSaversLockOnTheMainThreadUntilTheSubscriptionEnds) {
    REQUIRE_TEST_DESKTOP();
    TestDesktop desktop;
    auto& workspace = *desktop.desktop().workspace();
    const auto mainThread = std::this_thread::get_id();
    int locks = 0;
    int unlocks = 0;
    int offThread = 0;
    auto onLock = workspace.observe(WorkspaceEvent::screenLocked, [&] {
        ++locks;
        offThread += std::this_thread::get_id() != mainThread;
    });
    auto onUnlock = workspace.observe(WorkspaceEvent::screenUnlocked, [&] {
        ++unlocks;
        offThread += std::this_thread::get_id() != mainThread;
    });
    ASSERT_TRUE(onLock.isActive());

    // The screen saver on the desktop's session bus, played by the test.
    sd_bus* bus = nullptr;
    ASSERT_GE(sd_bus_open_user(&bus), 0);
    std::unique_ptr<sd_bus, sd_bus* (*)(sd_bus*)> closeBus(bus, sd_bus_flush_close_unref);
    auto activeChanged = [&](bool active) {
        return sd_bus_emit_signal(bus, "/org/freedesktop/ScreenSaver",
                                  "org.freedesktop.ScreenSaver", "ActiveChanged", "b",
                                  int(active)) >= 0 &&
               sd_bus_flush(bus) >= 0;
    };
    auto deliveredUntil = [&](const std::function<bool()>& done) {
        return desktop.waiter().until([&] {
            desktop.mainQueue().runPending();
            return done();
        });
    };

    // The bus is watched from the first observer on, a little later; a lock told again until
    // it is heard is still one change.
    bool emitted = true;
    ASSERT_TRUE(deliveredUntil([&] {
        if (locks == 0) {
            emitted = emitted && activeChanged(true);
        }
        return locks > 0 || !emitted;
    }));
    ASSERT_TRUE(emitted);
    ASSERT_TRUE(activeChanged(false));
    ASSERT_TRUE(deliveredUntil([&] { return unlocks == 1; }));
    EXPECT_EQ(locks, 1);

    onLock.reset();
    ASSERT_TRUE(activeChanged(true));
    ASSERT_TRUE(activeChanged(false));
    ASSERT_TRUE(deliveredUntil([&] { return unlocks == 2; }));
    EXPECT_EQ(locks, 1);
    EXPECT_EQ(offThread, 0);
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
    EXPECT_EQ(application->applicationId, "gtk3-widget-factory");
    EXPECT_EQ(application->localizedName, "Widget Factory");
}

} // namespace
} // namespace orvane::linuxbackend::test
