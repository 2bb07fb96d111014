#include <gtest/gtest.h>

#include "linux/x11/X11Clients.hpp"

#include "backends/linux/x11/X11Connection.hpp"
#include "backends/linux/x11/X11WindowCache.hpp"
#include "backends/linux/x11/X11WindowList.hpp"
#include "backends/linux/x11/X11WindowServer.hpp"
#include "backends/linux/x11/X11Workspace.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>

namespace orvane::linuxbackend::test {
namespace {

const X11WindowInfo* find(const X11WindowCache::Windows& windows, unsigned long window,
                          std::size_t* index = nullptr) {
    if (!windows) {
        return nullptr;
    }
    for (std::size_t i = 0; i < windows->size(); ++i) {
        if ((*windows)[i].window == window) {
            if (index) {
                *index = i;
            }
            return &(*windows)[i];
        }
    }
    return nullptr;
}

// Every change is made by another client and waited for on the server itself (bounded); the
// cache must then show it at its very next question, without any waiting of its own.
class X11_window_list_cache : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TEST_DESKTOP();
        desktop = std::make_unique<TestDesktop>();
        other = XOpenDisplay(nullptr);
        ASSERT_NE(other, nullptr);
        xterm = startXterm(*desktop, "cache-first", 200, 150);
        ASSERT_NE(xterm.window, 0u);
        cache = desktop->desktop().windowCache().get();
        ASSERT_TRUE(cache->isWatching());
    }
    void TearDown() override {
        if (other) {
            XCloseDisplay(other);
        }
    }

    // Waits until the server's own listing satisfies `condition`.
    bool serverShows(const std::function<bool(const std::vector<X11WindowInfo>&)>& condition) {
        return desktop->waiter().until([&] {
            auto windows = X11WindowList::query(desktop->connection());
            return windows && condition(*windows);
        });
    }

    std::unique_ptr<TestDesktop> desktop;
    XDisplay* other = nullptr;
    RunningClient xterm;
    X11WindowCache* cache = nullptr;
};

TEST_F(X11_window_list_cache, answersAgainWithoutReadingWhileNothingChanges) {
    // A window's first sighting is read twice (it may change before it is watched), and the
    // window manager may still be busy with the new xterm.
    X11WindowCache::Windows second;
    ASSERT_TRUE(desktop->waiter().until([&] {
        second = cache->windows();
        return second == cache->windows();
    }));
    ASSERT_TRUE(find(second, xterm.window));
    const auto reads = cache->reads();
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(cache->windows(), second);
        EXPECT_TRUE(desktop->desktop().windowServer()->onScreenWindows());
    }
    // A property the list does not show (toolkits bump user times on every key) is no change.
    const long userTime = 1234;
    XChangeProperty(other, xterm.window, XInternAtom(other, "_NET_WM_USER_TIME", False),
                    XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&userTime), 1);
    XSync(other, False);
    EXPECT_EQ(cache->windows(), second);
    EXPECT_EQ(cache->reads(), reads);
    EXPECT_EQ(cache->activeWindow(), xterm.window);
    EXPECT_EQ(cache->activeWindow(), xterm.window);
}

TEST_F(X11_window_list_cache, seesMovesRenamesAndRestackingAtTheNextQuestion) {
    ASSERT_TRUE(find(cache->windows(), xterm.window));

    // Moved by the window manager.
    ASSERT_TRUE(desktop->moveClient(xterm.window, 1500, 400));
    const auto* moved = find(cache->windows(), xterm.window);
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->rootFrame.x, 1500);
    EXPECT_EQ(moved->rootFrame.y, 400);

    // Renamed by someone else.
    XStoreName(other, xterm.window, "cache-renamed");
    XSync(other, False);
    const auto* renamed = find(cache->windows(), xterm.window);
    ASSERT_TRUE(renamed);
    EXPECT_EQ(renamed->title, "cache-renamed");

    // Another window brought to the front, then this one again.
    auto second = startXterm(*desktop, "cache-second", 1600, 450);
    ASSERT_NE(second.window, 0u);
    for (auto [front, back] :
         {std::pair{second.window, xterm.window}, std::pair{xterm.window, second.window}}) {
        XRaiseWindow(other, front);
        XSync(other, False);
        ASSERT_TRUE(serverShows([&](const std::vector<X11WindowInfo>& windows) {
            auto position = [&](unsigned long window) {
                return std::find_if(windows.begin(), windows.end(),
                                    [&](const auto& info) { return info.window == window; });
            };
            return position(front) < position(back);
        }));
        std::size_t frontIndex = 0, backIndex = 0;
        const auto windows = cache->windows();
        ASSERT_TRUE(find(windows, front, &frontIndex));
        ASSERT_TRUE(find(windows, back, &backIndex));
        EXPECT_LT(frontIndex, backIndex);
    }
}

TEST_F(X11_window_list_cache, restacksAndMovesFromEventsAloneAndRereadsOnResize) {
    const Window a = createWindow(other, 400, 400, 150, 100);
    const Window b = createWindow(other, 450, 420, 150, 100);
    XMapRaised(other, a);
    XMapRaised(other, b);
    XSync(other, False);
    ASSERT_TRUE(desktop->waiter().until([&] {
        auto windows = cache->windows();
        return windows == cache->windows() && find(windows, a) && find(windows, b);
    }));
    const auto reads = cache->reads();
    auto order = [&](Window front, Window back) {
        std::size_t frontIndex = 0, backIndex = 0;
        const auto windows = cache->windows();
        return find(windows, front, &frontIndex) && find(windows, back, &backIndex) &&
               frontIndex < backIndex;
    };
    EXPECT_TRUE(order(b, a));
    XRaiseWindow(other, a);
    XSync(other, False);
    EXPECT_TRUE(order(a, b));
    XMoveWindow(other, b, 1700, 600);
    XSync(other, False);
    ASSERT_TRUE(find(cache->windows(), b));
    EXPECT_EQ(find(cache->windows(), b)->rootFrame, (plinth::Rect{1700, 600, 150, 100}));
    EXPECT_TRUE(order(a, b));
    XLowerWindow(other, a);
    XSync(other, False);
    EXPECT_TRUE(order(xterm.window, a));
    EXPECT_TRUE(order(b, a));
    EXPECT_EQ(cache->reads(), reads);

    XResizeWindow(other, b, 300, 200);
    XSync(other, False);
    ASSERT_TRUE(find(cache->windows(), b));
    EXPECT_EQ(find(cache->windows(), b)->rootFrame, (plinth::Rect{1700, 600, 300, 200}));
    EXPECT_GT(cache->reads(), reads);
    XDestroyWindow(other, a);
    XDestroyWindow(other, b);
    XSync(other, False);
    EXPECT_FALSE(find(cache->windows(), a));
}

TEST_F(X11_window_list_cache, seesWindowsComeAndGoAtTheNextQuestion) {
    const auto before = cache->windows();

    // An unmanaged pop-up: mapped, moved, retyped as a menu, destroyed.
    const Window popup = createWindow(other, 300, 300, 200, 100);
    XMapRaised(other, popup);
    XSync(other, False);
    const auto* shown = find(cache->windows(), popup);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->rootFrame, (plinth::Rect{300, 300, 200, 100}));
    XMoveResizeWindow(other, popup, 350, 320, 220, 90);
    XSync(other, False);
    shown = find(cache->windows(), popup);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->rootFrame, (plinth::Rect{350, 320, 220, 90}));
    Atom menu = XInternAtom(other, "_NET_WM_WINDOW_TYPE_POPUP_MENU", False);
    XChangeProperty(other, popup, XInternAtom(other, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&menu), 1);
    XSync(other, False);
    shown = find(cache->windows(), popup);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->layer, X11WindowList::popUpMenuLayer);
    XUnmapWindow(other, popup);
    XSync(other, False);
    EXPECT_FALSE(find(cache->windows(), popup));
    XDestroyWindow(other, popup);
    XSync(other, False);
    EXPECT_FALSE(find(cache->windows(), popup));

    // A managed window opened and closed.
    auto second = std::make_unique<RunningClient>(startXterm(*desktop, "cache-new", 2700, 200));
    ASSERT_NE(second->window, 0u);
    EXPECT_TRUE(find(cache->windows(), second->window));
    const auto closed = second->window;
    second.reset();
    ASSERT_TRUE(serverShows([&](const std::vector<X11WindowInfo>& windows) {
        return std::none_of(windows.begin(), windows.end(),
                            [&](const auto& info) { return info.window == closed; });
    }));
    EXPECT_FALSE(find(cache->windows(), closed));
    EXPECT_TRUE(find(cache->windows(), xterm.window));
    EXPECT_NE(cache->windows(), before);
}

TEST_F(X11_window_list_cache, followsTheActiveWindowAndWaitsForItsChange) {
    auto second = startXterm(*desktop, "cache-active", 2700, 300);
    ASSERT_NE(second.window, 0u);
    auto& workspace = *desktop->desktop().workspace();
    for (unsigned long window : {xterm.window, second.window, xterm.window}) {
        ASSERT_TRUE(workspace.activateWindow(window));
        EXPECT_EQ(desktop->activeWindow(), window);
        EXPECT_EQ(cache->activeWindow(), window);
    }
    // Nobody activates it: the wait ends at its bound.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(cache->waitForActive(second.window, 100ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
}

} // namespace
} // namespace orvane::linuxbackend::test
