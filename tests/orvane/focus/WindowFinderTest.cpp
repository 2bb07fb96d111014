#include "orvane/focus/WindowFinder.hpp"
#include "backends/sim/SimDesktop.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>

namespace orvane {
namespace {

using ::testing::IsEmpty;

WindowRecord normal(std::int64_t pid, std::int64_t number, plinth::Rect frame) {
    return sim::SimWindowServer::entryFor(
        {static_cast<pid_t>(pid), static_cast<std::uint32_t>(number), frame, 0, "App", "Title"});
}

class WindowFinderTest : public ::testing::Test {
protected:
    sim::SimDesktop desktop;
};

// --- Listing -----------------------------------------------------------------------------------

TEST_F(WindowFinderTest, ListsOnlyNormalLayerWindowsLargerThan80By60) {
    auto missingLayer = normal(5, 15, {0, 0, 300, 300});
    missingLayer.layer.reset();
    auto menuBar = normal(1, 11, {0, 0, 1920, 24});
    menuBar.layer = 24;
    auto panel = normal(1, 12, {0, 0, 400, 400});
    panel.layer = 3;
    desktop.windowServer->setEntries({
        menuBar,
        panel,
        normal(2, 13, {0, 0, 80, 200}), // exactly 80 wide
        normal(3, 14, {0, 0, 200, 60}), // exactly 60 high
        normal(4, 16, {10, 20, 81, 61}),
        missingLayer,
    });

    const auto windows = WindowFinder::windowsFrontToBack();

    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0], (ScreenWindow{4, 16, {10, 20, 81, 61}, "App", "Title", 4, {}}));
    EXPECT_EQ(windows[1].windowID, 15u);
    EXPECT_EQ(windows[1].layerIndex, 5);
}

TEST_F(WindowFinderTest, SkipsEachMalformedEntryAndKeepsTheRest) {
    auto changed = [](auto change) {
        auto entry = normal(7, 70, {0, 0, 500, 400});
        change(entry);
        return entry;
    };
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double infinity = std::numeric_limits<double>::infinity();
    desktop.windowServer->setEntries({
        changed([](WindowRecord& e) { e.ownerPid.reset(); }),
        changed([](WindowRecord& e) { e.ownerPid = std::int64_t{1} << 31; }), // beyond 32 bits
        changed([](WindowRecord& e) { e.ownerPid = -(std::int64_t{1} << 31) - 1; }),
        changed([](WindowRecord& e) { e.number.reset(); }),
        changed([](WindowRecord& e) { e.number = -1; }),
        changed([](WindowRecord& e) { e.number = std::int64_t{1} << 32; }),
        changed([](WindowRecord& e) { e.bounds.reset(); }),
        changed([](WindowRecord& e) {
            e.bounds = plinth::Rect{0, 0, nan, 400};
        }),
        changed([](WindowRecord& e) {
            e.bounds = plinth::Rect{-infinity, 0, 500, 400};
        }),
        normal(8, 80, {0, 0, 500, 400}),
        // Content bounds that make no sense are dropped, not the window.
        changed([](WindowRecord& e) {
            e.ownerPid = 9;
            e.contentBounds = plinth::Rect{0, nan, 10, 10};
        }),
    });

    const auto windows = WindowFinder::windowsFrontToBack();

    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0].pid, 8);
    EXPECT_EQ(windows[0].layerIndex, 9);
    EXPECT_EQ(windows[1].pid, 9);
    EXPECT_EQ(windows[1].layerIndex, 10);
    EXPECT_FALSE(windows[1].contentFrame);
}

TEST_F(WindowFinderTest, NamesThatAreMissingBecomeEmpty) {
    auto entry = normal(3, 30, {0, 0, 500, 400});
    entry.ownerName.reset();
    entry.title.reset();
    desktop.windowServer->setEntries({entry});

    const auto windows = WindowFinder::windowsFrontToBack();

    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].ownerName, "");
    EXPECT_EQ(windows[0].title, "");
}

TEST_F(WindowFinderTest, AListThatCannotBeHadMeansNoWindows) {
    desktop.windowServer->addWindow({3, 0, {0, 0, 500, 400}, 0, "Editor", ""});
    desktop.windowServer->setListFails(true);

    EXPECT_THAT(WindowFinder::windowsFrontToBack(), IsEmpty());
    EXPECT_FALSE(WindowFinder::windowAt({10, 10}));
    EXPECT_FALSE(WindowFinder::frontmostWindow({0, 0, 1920, 1080}));
}

// --- Windows under a point and on a display ------------------------------------------------------

TEST_F(WindowFinderTest, PointsOnTheLeftAndTopEdgesAreInsideTheRightAndBottomOutside) {
    desktop.windowServer->setEntries({normal(1, 10, {100, 100, 200, 100})});

    EXPECT_TRUE(WindowFinder::windowAt({100, 100}));
    EXPECT_FALSE(WindowFinder::windowAt({300, 150}));
    EXPECT_FALSE(WindowFinder::windowAt({150, 200}));
    EXPECT_TRUE(WindowFinder::windowAt({299.9, 199.9}));
}

TEST_F(WindowFinderTest, TheWindowNearerTheFrontWins) {
    desktop.windowServer->setEntries({
        normal(1, 10, {0, 0, 300, 300}),
        normal(2, 20, {100, 100, 400, 400}),
    });

    EXPECT_EQ(WindowFinder::windowAt({150, 150})->windowID, 10u);
    EXPECT_EQ(WindowFinder::windowAt({350, 350})->windowID, 20u);
    EXPECT_EQ(WindowFinder::frontmostWindow({200, 200, 10, 10})->windowID, 10u);
}

TEST_F(WindowFinderTest, AWindowThatOnlyTouchesADisplaysEdgeIsNotOnIt) {
    // Flush against the left edge of a display at x = 1920, then one point over it.
    desktop.windowServer->setEntries({normal(1, 10, {1420, 0, 500, 400})});
    const plinth::Rect display{1920, 0, 1920, 1080};
    EXPECT_FALSE(WindowFinder::frontmostWindow(display));
    // Touching any one side, or only a corner, is not sharing area.
    EXPECT_FALSE(WindowFinder::intersects({3840, 0, 500, 400}, display));
    EXPECT_FALSE(WindowFinder::intersects({2000, -400, 500, 400}, display));
    EXPECT_FALSE(WindowFinder::intersects({2000, 1080, 500, 400}, display));
    EXPECT_FALSE(WindowFinder::intersects({1420, 1080, 500, 100}, display));

    desktop.windowServer->moveWindow(10, {1421, 0, 500, 400});
    EXPECT_TRUE(WindowFinder::frontmostWindow(display));
}

// --- Matching accessibility windows
// ---------------------------------------------------------------

class AccessibleWindowMatch : public WindowFinderTest {
protected:
    const ScreenWindow window{40, 400, {100, 100, 800, 600}, "Editor", "notes", 0, {}};

    std::optional<sim::SimAccessibility::ElementID> match() {
        const auto element = WindowFinder::accessibleWindow(window);
        return element ? desktop.accessibility->idOf(*element) : std::nullopt;
    }
};

TEST_F(AccessibleWindowMatch, AScoreOfTwelveIsAnotherWindow) {
    desktop.accessibility->addWindow(40, {100, 100, 812, 600});
    EXPECT_FALSE(match());

    const auto near = desktop.accessibility->addWindow(40, {100, 100, 811.9, 600});
    EXPECT_EQ(match(), near);
}

TEST_F(AccessibleWindowMatch, OriginsAreComparedByStraightLineDistance) {
    // Offsets 6 and 8 are 10 apart in a straight line (14 if added up).
    const auto shifted = desktop.accessibility->addWindow(40, {106, 108, 800, 600});
    EXPECT_EQ(match(), shifted);
}

TEST_F(AccessibleWindowMatch, TheBestScoreWinsAndTiesGoToTheEarlierWindow) {
    const auto first = desktop.accessibility->addWindow(40, {103, 100, 800, 600});
    desktop.accessibility->addWindow(40, {97, 100, 800, 600});
    EXPECT_EQ(match(), first);

    const auto exact = desktop.accessibility->addWindow(40, {100, 100, 800, 600});
    EXPECT_EQ(match(), exact);
}

TEST_F(AccessibleWindowMatch, WindowsWithoutAFrameAreSkipped) {
    const auto unreadable = desktop.accessibility->addWindow(40, {100, 100, 800, 600});
    desktop.accessibility->fail(unreadable, sim::SimAccessibility::Operation::frame,
                                AccessError::cannotComplete);
    const auto shapeless = desktop.accessibility->addWindow(40, {100, 100, 800, 600});
    desktop.accessibility->setFrame(shapeless, std::nullopt);
    const auto readable = desktop.accessibility->addWindow(40, {101, 100, 800, 600});

    EXPECT_EQ(match(), readable);
}

TEST_F(AccessibleWindowMatch, ApplicationsThatDoNotAnswerGiveNothing) {
    auto matchFor = [&](pid_t pid) {
        return WindowFinder::accessibleWindow({pid, 1, window.frame, "", "", 0, {}}).has_value();
    };
    const plinth::Rect frame = window.frame;
    // 41: not an accessible application at all. 42: no windows.
    desktop.accessibility->addApplication(42);
    // 43: refuses to list its windows.
    desktop.accessibility->addWindow(43, frame);
    desktop.accessibility->fail(desktop.accessibility->addApplication(43),
                                sim::SimAccessibility::Operation::windows, AccessError::failure);
    // 44: hung.
    desktop.accessibility->addWindow(44, frame);
    desktop.accessibility->setApplicationError(44, AccessError::cannotComplete);
    // 45: answers normally.
    desktop.accessibility->addWindow(45, frame);

    EXPECT_FALSE(matchFor(41));
    EXPECT_FALSE(matchFor(42));
    EXPECT_FALSE(matchFor(43));
    EXPECT_FALSE(matchFor(44));
    EXPECT_TRUE(matchFor(45));

    desktop.accessibility->setTrusted(false);
    EXPECT_FALSE(matchFor(45));
}

} // namespace
} // namespace orvane
