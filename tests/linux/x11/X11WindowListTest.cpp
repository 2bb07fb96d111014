#include <gtest/gtest.h>

#include "linux/x11/X11Clients.hpp"

#include "backends/linux/x11/X11Connection.hpp"
#include "backends/linux/x11/X11Displays.hpp"
#include "backends/linux/x11/X11WindowList.hpp"
#include "backends/linux/x11/X11WindowServer.hpp"
#include "backends/linux/x11/X11Workspace.hpp"
#include "orvane/focus/WindowFinder.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <atomic>
#include <thread>

namespace orvane::linuxbackend::test {
namespace {

std::optional<WindowRecord> entryFor(const std::vector<WindowRecord>& entries, unsigned long window,
                                     std::size_t* index = nullptr) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].number == static_cast<std::int64_t>(window)) {
            if (index) {
                *index = i;
            }
            return entries[i];
        }
    }
    return std::nullopt;
}

class X11_window_list : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TEST_DESKTOP();
        desktop = std::make_unique<TestDesktop>();
        xterm = startXterm(*desktop, "orvane-xterm", 1400, 100);
        ASSERT_NE(xterm.window, 0u);
    }

    std::vector<WindowRecord> entries() {
        auto list = desktop->desktop().windowServer()->onScreenWindows();
        EXPECT_TRUE(list.has_value());
        return list.value_or(std::vector<WindowRecord>{});
    }

    std::unique_ptr<TestDesktop> desktop;
    RunningClient xterm;
};

TEST_F(X11_window_list, describesAClientWithItsFramePidTitleAndOwner) {
    auto entry = entryFor(entries(), xterm.window);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->ownerPid.value(), xterm.pid());
    // xterm sets WM_NAME only; its desktop entry names it.
    EXPECT_EQ(entry->title.value(), "orvane-xterm");
    EXPECT_EQ(entry->ownerName.value(), "XTerm");
    EXPECT_EQ(entry->layer.value(), 0);
    // The frame's top-left corner where it was put (the primary's origin is the root's), and
    // larger than the client by the decorations.
    const auto bounds = entry->bounds.value();
    EXPECT_EQ(bounds.x, 1400);
    EXPECT_EQ(bounds.y, 100);
    auto client = X11WindowList::clientFrameOf(desktop->connection(), xterm.window);
    ASSERT_TRUE(client);
    EXPECT_GT(bounds.height, client->height);
    EXPECT_GE(bounds.width, client->width);
    EXPECT_GE(client->x, bounds.x);
    EXPECT_GT(client->y, bounds.y);
}

// xfwm4 writes no stacking list until it first restacks: its plain client list still names
// the clients, stacked as the root's children are.
TEST_F(X11_window_list, findsTheClientsOfAWindowManagerWithoutAStackingList) {
    auto second = startXterm(*desktop, "orvane-second", 1500, 200);
    ASSERT_NE(second.window, 0u);
    ASSERT_TRUE(desktop->desktop().workspace()->activateWindow(second.window));
    auto& connection = desktop->connection();
    XDeleteProperty(connection.display(), connection.root(),
                    connection.atom("_NET_CLIENT_LIST_STACKING"));
    XSync(connection.display(), False);

    const auto windows = X11WindowList::query(connection);
    ASSERT_TRUE(windows);
    std::vector<unsigned long> clients;
    for (const auto& window : *windows) {
        if (window.isClient && window.pid) {
            clients.push_back(window.window);
        }
    }
    EXPECT_EQ(clients, (std::vector<unsigned long>{second.window, xterm.window}));
}

TEST_F(X11_window_list, followsTheStackingOrderFrontFirst) {
    auto second = startXterm(*desktop, "orvane-second", 1500, 200);
    ASSERT_NE(second.window, 0u);
    auto& workspace = *desktop->desktop().workspace();
    for (auto [front, back] :
         {std::pair{xterm.window, second.window}, std::pair{second.window, xterm.window},
          std::pair{xterm.window, second.window}}) {
        ASSERT_TRUE(workspace.activateWindow(front));
        std::size_t frontIndex = 0, backIndex = 0;
        ASSERT_TRUE(desktop->waiter().until([&] {
            auto list = entries();
            return entryFor(list, front, &frontIndex) && entryFor(list, back, &backIndex) &&
                   frontIndex < backIndex;
        }));
    }
}

TEST_F(X11_window_list, leavesOutUnmappedWindowsAndKeepsOverrideRedirectOnesAboveNormal) {
    ::Display* display = desktop->connection().display();
    const Window popup = createWindow(display, 1300, 50, 200, 150);
    XFlush(display);
    EXPECT_FALSE(entryFor(entries(), popup)); // not mapped yet

    XMapRaised(display, popup);
    XSync(display, False);
    std::size_t popupIndex = 0, xtermIndex = 0;
    auto list = entries();
    auto entry = entryFor(list, popup, &popupIndex);
    ASSERT_TRUE(entry);
    ASSERT_TRUE(entryFor(list, xterm.window, &xtermIndex));
    EXPECT_LT(popupIndex, xtermIndex);
    // Ours, untyped, without a parent: an overlay, neither ordinary nor a menu.
    const auto layer = entry->layer.value();
    EXPECT_GT(layer, 0);
    EXPECT_LT(layer, desktop->desktop().windowServer()->popUpMenuLevel());
    EXPECT_EQ(entry->ownerPid.value(), getpid());
    EXPECT_EQ(entry->bounds.value(), (plinth::Rect{1300, 50, 200, 150}));

    // The same window transient for another one is how some toolkits show their menus.
    XUnmapWindow(display, popup);
    XSetTransientForHint(display, popup, xterm.window);
    XMapRaised(display, popup);
    XSync(display, False);
    entry = entryFor(entries(), popup);
    ASSERT_TRUE(entry);
    EXPECT_GE(entry->layer.value(), desktop->desktop().windowServer()->popUpMenuLevel());
    XDestroyWindow(display, popup);
    XSync(display, False);
    EXPECT_FALSE(entryFor(entries(), popup));
}

TEST_F(X11_window_list, givesDocksAndMenuTypesTheirLayers) {
    ::Display* display = desktop->connection().display();
    auto makeTyped = [&](const char* type, bool overrideRedirect) {
        const Window window = createWindow(display, 2600, 10, 300, 40, type, overrideRedirect);
        XMapRaised(display, window);
        return window;
    };
    const Window dock = makeTyped("_NET_WM_WINDOW_TYPE_DOCK", false);
    const Window menu = makeTyped("_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", true);
    const Window tooltip = makeTyped("_NET_WM_WINDOW_TYPE_TOOLTIP", true);
    const Window background = makeTyped("_NET_WM_WINDOW_TYPE_DESKTOP", false);
    XSync(display, False);
    auto& server = *desktop->desktop().windowServer();
    std::optional<WindowRecord> dockEntry;
    ASSERT_TRUE(desktop->waiter().until([&] {
        dockEntry = entryFor(entries(), dock);
        return dockEntry.has_value();
    }));
    const auto list = entries();
    EXPECT_GT(dockEntry->layer.value(), 0);
    EXPECT_LT(dockEntry->layer.value(), server.popUpMenuLevel());
    ASSERT_TRUE(entryFor(list, menu));
    EXPECT_GE(entryFor(list, menu)->layer.value(), server.popUpMenuLevel());
    ASSERT_TRUE(entryFor(list, tooltip));
    EXPECT_LT(entryFor(list, tooltip)->layer.value(), server.popUpMenuLevel());
    EXPECT_GT(entryFor(list, tooltip)->layer.value(), 0);
    EXPECT_FALSE(entryFor(list, background));
    for (Window window : {dock, menu, tooltip, background}) {
        XDestroyWindow(display, window);
    }
    XSync(display, False);
}

TEST_F(X11_window_list, keepsWindowsKeptAboveOutOfTheOrdinaryOnes) {
    // A small player kept above a larger window, over its middle.
    auto player = startXterm(*desktop, "orvane-player", 1500, 200);
    ASSERT_NE(player.window, 0u);
    ::Display* display = desktop->connection().display();
    keepAbove(display, player.window, true);
    std::optional<WindowRecord> entry;
    ASSERT_TRUE(desktop->waiter().until([&] {
        entry = entryFor(entries(), player.window);
        return entry && entry->layer.value() != 0;
    }));
    EXPECT_LT(entry->layer.value(), desktop->desktop().windowServer()->popUpMenuLevel());

    // Even with the other window active, the player stays on top; under the gaze at the player
    // is the window it covers, and that is also the frontmost one on the display.
    ASSERT_TRUE(desktop->desktop().workspace()->activateWindow(xterm.window));
    const auto bounds = entry->bounds.value();
    const plinth::Point onPlayer{bounds.x + 20, bounds.y + 20};
    ASSERT_TRUE(
        WindowFinder::contains(entryFor(entries(), xterm.window)->bounds.value(), onPlayer));
    ASSERT_TRUE(desktop->waiter().until([&] {
        std::size_t playerIndex = 0, xtermIndex = 0;
        const auto list = entries();
        return entryFor(list, player.window, &playerIndex) &&
               entryFor(list, xterm.window, &xtermIndex) && playerIndex < xtermIndex;
    }));
    auto under = WindowFinder::windowAt(onPlayer);
    ASSERT_TRUE(under);
    EXPECT_EQ(under->windowID, xterm.window);
    auto frontmost = WindowFinder::frontmostWindow({1280, 0, 1280, 1080});
    ASSERT_TRUE(frontmost);
    EXPECT_EQ(frontmost->windowID, xterm.window);

    // Back among the others, it is an ordinary window again.
    keepAbove(display, player.window, false);
    ASSERT_TRUE(desktop->waiter().until([&] {
        entry = entryFor(entries(), player.window);
        return entry && entry->layer.value() == 0;
    }));
}

TEST_F(X11_window_list, survivesWindowsVanishingWhileItIsRead) {
    std::atomic<bool> stop{false};
    std::atomic<int> churned{0};
    std::thread churn([&] {
        ::Display* display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        while (!stop.load()) {
            Window windows[8];
            for (auto& window : windows) {
                window = createWindow(display, 10, 10, 100, 100);
                XStoreName(display, window, "vanishing");
                XMapWindow(display, window);
            }
            XFlush(display);
            for (auto window : windows) {
                XDestroyWindow(display, window);
            }
            XSync(display, False);
            ++churned;
        }
        XCloseDisplay(display);
    });
    int lists = 0;
    for (int i = 0; i < 300 || churned.load() < 50; ++i) {
        auto list = desktop->desktop().windowServer()->onScreenWindows();
        ASSERT_TRUE(list);
        EXPECT_TRUE(entryFor(*list, xterm.window));
        for (const auto& entry : *list) {
            EXPECT_TRUE(entry.number);
            EXPECT_TRUE(entry.bounds);
        }
        ++lists;
        if (i > 5000) {
            break;
        }
    }
    stop = true;
    churn.join();
    EXPECT_GE(lists, 300);
    EXPECT_TRUE(desktop->connection().isAlive());
}

TEST_F(X11_window_list, answersNothingOnceTheServerDropsTheConnection) {
    std::string error;
    std::shared_ptr<X11Connection> connection = X11Connection::open(nullptr, &error);
    ASSERT_TRUE(connection) << error;
    ASSERT_TRUE(X11WindowList::query(*connection));

    // Another client has the server close ours, as when the X server goes away. Xlib's default
    // would end this process at the next request.
    ::Display* other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    XKillClient(other, connection->privateWindow());
    XSync(other, False);
    XCloseDisplay(other);

    EXPECT_FALSE(connection->property32(connection->root(), connection->atom("_NET_ACTIVE_WINDOW"),
                                        XA_WINDOW));
    EXPECT_FALSE(connection->isAlive());
    EXPECT_FALSE(X11WindowList::query(*connection));
    EXPECT_TRUE(X11Displays::monitors(*connection).empty());
    // The desktop's own connection is untouched.
    EXPECT_TRUE(desktop->desktop().windowServer()->onScreenWindows());
}

} // namespace
} // namespace orvane::linuxbackend::test
