#include "orvane/focus/FocusSwitcher.hpp"
#include "backends/sim/SimDesktop.hpp"
#include "orvane/focus/FocusRefusals.hpp"
#include "orvane/focus/WindowFinder.hpp"
#include "orvane/support/Log.hpp"
#include "orvane/support/Prefs.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

using Request = sim::SimAccessibility::Request;
using Operation = sim::SimAccessibility::Operation;

// Lists the windows once as they are, then loses one: it closed in between.
class VanishingWindowServer : public WindowServer {
public:
    VanishingWindowServer(std::shared_ptr<sim::SimWindowServer> inner, std::uint32_t vanishing)
        : inner_(std::move(inner)), vanishing_(vanishing) {}

    std::optional<std::vector<WindowRecord>> onScreenWindows() const override {
        auto entries = inner_->onScreenWindows();
        inner_->closeWindow(vanishing_);
        return entries;
    }
    std::int64_t popUpMenuLevel() const override { return inner_->popUpMenuLevel(); }
    plinth::Point pointerLocation() const override { return inner_->pointerLocation(); }
    void warpPointer(plinth::Point point) override { inner_->warpPointer(point); }
    bool postKeyEvent(Key key, std::uint64_t flags, bool down) override {
        return inner_->postKeyEvent(key, flags, down);
    }

private:
    std::shared_ptr<sim::SimWindowServer> inner_;
    std::uint32_t vanishing_;
};

// Display A (primary) and display B to its right, both 1920 x 1080.
class FocusSwitcherTest : public ::testing::Test {
protected:
    FocusSwitcherTest() {
        desktop.displays->setFrames({{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}});
        desktop.launchApplication(editor, "org.example.Editor", "Editor");
        desktop.launchApplication(terminal, "org.example.Terminal", "Terminal");
    }

    Display screen(std::size_t index) const { return desktop.displays->screens().at(index); }
    std::optional<std::uint32_t> remembered(const std::string& key) const {
        const auto& memory = switcher.lastWindowPerScreen();
        auto found = memory.find(key);
        return found == memory.end() ? std::nullopt : std::optional(found->second);
    }

    static constexpr pid_t editor = 501;
    static constexpr pid_t terminal = 502;
    const plinth::Point emptySpotOnB{3700, 1000};
    sim::SimDesktop desktop;
    FocusSwitcher switcher;
};

// --- Which window -------------------------------------------------------------------------------

TEST_F(FocusSwitcherTest, TheWindowUnderTheGazeIsRaisedFocusedActivatedAndRemembered) {
    const auto window = desktop.openWindow(editor, {2000, 100, 800, 600}, "notes");

    const auto focused = switcher.focus(screen(1), {2100, 200});

    ASSERT_TRUE(focused);
    EXPECT_EQ(focused->windowID, window.number);
    EXPECT_EQ(focused->ownerName, "Editor");
    EXPECT_THAT(desktop.accessibility->requests(),
                ElementsAre(Request{window.element, Operation::raise, std::nullopt},
                            Request{window.element, Operation::makeMain, std::nullopt},
                            Request{window.element, Operation::focus, std::nullopt}));
    EXPECT_THAT(desktop.workspace->activations(), ElementsAre(editor));
    EXPECT_THAT(switcher.lastWindowPerScreen(), ElementsAre(Pair("1920,0", window.number)));
    EXPECT_EQ(switcher.currentScreenKey(), "1920,0");
}

// A toolkit that describes its windows by their content area (no title bar), with the
// application's other window in front: the one under the gaze is the one activated.
TEST_F(FocusSwitcherTest, TheExactWindowOfAnApplicationWithSeveralIsActivated) {
    const plinth::Rect onB{2000, 100, 800, 600};
    const plinth::Rect contentOnB{2000, 130, 800, 570};
    const auto right = desktop.windowServer->addWindow({editor, 0, onB, 0, "Editor", "right"});
    desktop.windowServer->setContentFrame(right, contentOnB);
    const auto left = desktop.openWindow(editor, {100, 100, 800, 600}, "left");
    const auto rightElement = desktop.accessibility->addWindow(editor, contentOnB);

    const auto focused = switcher.focus(screen(1), {2100, 400});

    ASSERT_TRUE(focused);
    EXPECT_EQ(focused->windowID, right);
    EXPECT_THAT(desktop.workspace->activatedWindows(), ElementsAre(right));
    ASSERT_FALSE(desktop.accessibility->requests().empty());
    EXPECT_EQ(desktop.accessibility->requests().front(),
              (Request{rightElement, Operation::raise, std::nullopt}));
    EXPECT_NE(desktop.accessibility->requests().front().element, left.element);
}

// The window manager focused something else (another window of the application, or it
// refused): no success, nothing remembered, the pointer stays.
TEST_F(FocusSwitcherTest, AnActivationThatEndsOnAnotherWindowIsNoSuccess) {
    Prefs::shared().defaults().setBool(PrefKey::moveCursor, true);
    const auto window = desktop.openWindow(editor, {2000, 100, 800, 600});
    desktop.workspace->refuseWindowActivation(window.number);

    EXPECT_FALSE(switcher.focus(screen(1), {2100, 200}));
    EXPECT_THAT(switcher.lastWindowPerScreen(), IsEmpty());
    EXPECT_FALSE(switcher.currentScreenKey());
    EXPECT_THAT(desktop.windowServer->warps(), IsEmpty());

    desktop.workspace->refuseWindowActivation(window.number, false);
    desktop.clock->advance(1.0);
    EXPECT_TRUE(switcher.focus(screen(1), {2100, 200}));
    EXPECT_THAT(desktop.workspace->activatedWindows(), ElementsAre(window.number));
}

// Every request waits for the manager's answer on the main thread, so a refused window is
// asked for again only after a wait that doubles up to half a minute; once the user has
// clicked into it, it is asked for at once.
TEST_F(FocusSwitcherTest, ARefusedWindowIsAskedForAgainOnlyAfterAGrowingWait) {
    const auto window = desktop.openWindow(editor, {2000, 100, 800, 600});
    desktop.workspace->refuseWindowActivation(window.number);
    const auto attemptsAfter = [&](double seconds) {
        desktop.clock->advance(seconds);
        switcher.focus(screen(1), {2100, 200});
        return desktop.workspace->activationAttempts();
    };

    std::size_t attempts = attemptsAfter(0);
    EXPECT_EQ(attempts, 1u);
    for (const double wait : {1.0, 2.0, 4.0, 8.0, 16.0, 30.0, 30.0}) {
        EXPECT_EQ(attemptsAfter(wait - 0.05), attempts) << "after less than " << wait << " s";
        EXPECT_EQ(attemptsAfter(0.1), ++attempts) << "after " << wait << " s";
    }

    const auto clicked = WindowFinder::windowAt({2100, 200});
    ASSERT_TRUE(clicked);
    switcher.noteManualFocus(*clicked);
    EXPECT_EQ(attemptsAfter(0), ++attempts);
    EXPECT_EQ(attemptsAfter(0.95), attempts);

    // A success ends the wait: the next refusal starts from the shortest again.
    desktop.workspace->refuseWindowActivation(window.number, false);
    EXPECT_EQ(attemptsAfter(0.1), ++attempts);
    desktop.workspace->refuseWindowActivation(window.number);
    EXPECT_EQ(attemptsAfter(0), ++attempts);
    EXPECT_EQ(attemptsAfter(1.05), ++attempts);
}

// Asked on every pose while the gaze rests there, a refusal is told once, in the log and in
// the note `--diagnose` reads; told again only after a focus has succeeded in between.
TEST_F(FocusSwitcherTest, AWindowManagerRefusalIsToldOnceUntilAFocusSucceeds) {
    const auto window = desktop.openWindow(editor, {2000, 100, 800, 600});
    const auto other = desktop.openWindow(terminal, {100, 100, 800, 600});
    desktop.workspace->refuseWindowActivation(window.number);
    const auto refusals = [&] {
        std::size_t count = 0;
        for (const auto& line : desktop.log->lines(LogLevel::error)) {
            count += line.starts_with("the window manager refused to focus Editor:");
        }
        return count;
    };

    EXPECT_FALSE(FocusRefusals::latest());
    for (int pose = 0; pose < 3; ++pose) {
        EXPECT_FALSE(switcher.focus(screen(1), {2100, 200}));
    }
    EXPECT_EQ(refusals(), 1u);
    ASSERT_TRUE(FocusRefusals::latest());
    EXPECT_TRUE(FocusRefusals::latest()->starts_with(FocusRefusals::sentence("Editor")));

    ASSERT_TRUE(switcher.focus(screen(0), {200, 200}));
    EXPECT_EQ(switcher.focus(screen(0), {200, 200})->windowID, other.number);
    EXPECT_FALSE(switcher.focus(screen(1), {2100, 200}));
    EXPECT_EQ(refusals(), 2u);
}

// A window that closed on the way was not refused; a name from a program is bounded and
// printable before it reaches the log or the note.
TEST_F(FocusSwitcherTest, OnlyAListedWindowCountsAsRefusedAndItsNameIsTamed) {
    const auto window = desktop.openWindow(editor, {2000, 100, 800, 600});
    desktop.services->windowServer =
        std::make_shared<VanishingWindowServer>(desktop.windowServer, window.number);
    EXPECT_FALSE(switcher.focus(screen(1), {2100, 200}));
    EXPECT_EQ(desktop.workspace->activationAttempts(), 1u);
    EXPECT_THAT(desktop.log->lines(LogLevel::error), IsEmpty());
    EXPECT_FALSE(FocusRefusals::latest());

    const std::string hostile = "evil\nname\x1b[31m" + std::string(500, 'x') + "é";
    const std::string said = FocusRefusals::sentence(hostile);
    EXPECT_EQ(said.find('\n'), std::string::npos);
    EXPECT_EQ(said.find('\x1b'), std::string::npos);
    EXPECT_LT(said.size(), 400u);
    EXPECT_NE(said.find("…"), std::string::npos);
    EXPECT_NE(FocusRefusals::sentence("").find("focus a window:"), std::string::npos);
}

TEST_F(FocusSwitcherTest, TheGazeWinsOverTheRememberedWindow) {
    const auto shell = desktop.openWindow(terminal, {2000, 100, 600, 400});
    const auto notes = desktop.openWindow(editor, {2800, 300, 800, 600});
    switcher.noteManualFocus(*WindowFinder::windowAt({2100, 200}));

    EXPECT_EQ(switcher.focus(screen(1), {3000, 500})->windowID, notes.number);
    EXPECT_EQ(remembered("1920,0"), notes.number);
    EXPECT_NE(remembered("1920,0"), shell.number);
}

TEST_F(FocusSwitcherTest, OnAnEmptySpotTheRememberedWindowWinsEvenBehindAnother) {
    const auto shell = desktop.openWindow(terminal, {2000, 100, 800, 600});
    switcher.noteManualFocus(*WindowFinder::windowAt({2100, 200}));
    desktop.openWindow(editor, {2200, 200, 800, 600}); // now in front, over most of it

    EXPECT_EQ(switcher.focus(screen(1), emptySpotOnB)->windowID, shell.number);
}

TEST_F(FocusSwitcherTest, ARememberedWindowThatLeftTheDisplayGivesWayToTheFrontmostThere) {
    const auto shell = desktop.openWindow(terminal, {2000, 100, 800, 600});
    switcher.noteManualFocus(*WindowFinder::windowAt({2100, 200}));
    const auto notes = desktop.openWindow(editor, {2900, 500, 800, 400});
    desktop.windowServer->raiseWindow(shell.number); // the remembered one is frontmost...

    // ...but flush against B's left edge it is not on B: shared edges do not count.
    desktop.windowServer->moveWindow(shell.number, {1120, 100, 800, 600});
    EXPECT_EQ(switcher.focus(screen(1), emptySpotOnB)->windowID, notes.number);

    // Half on each, it is A's (ties go to the earlier display).
    desktop.windowServer->moveWindow(shell.number, {1520, 100, 800, 600});
    ASSERT_EQ(switcher.focus(screen(1), {1920, 200})->windowID, shell.number);
    EXPECT_EQ(switcher.focus(screen(1), emptySpotOnB)->windowID, notes.number);

    // One point more on B than on A, it is B's again, found behind the frontmost window there.
    desktop.windowServer->moveWindow(shell.number, {1521, 100, 800, 600});
    ASSERT_EQ(switcher.focus(screen(1), {1920, 200})->windowID, shell.number);
    desktop.windowServer->raiseWindow(notes.number);
    EXPECT_EQ(switcher.focus(screen(1), emptySpotOnB)->windowID, shell.number);
}

// A window that reaches a few points over the edge from its neighbour is not this display's,
// however far in front it is: focus goes to the window that is, and comes back next time.
TEST_F(FocusSwitcherTest, AWindowReachingOverTheEdgeBelongsToTheDisplayHoldingMostOfIt) {
    const auto shell = desktop.openWindow(terminal, {100, 100, 800, 600}); // on A
    const auto notes = desktop.openWindow(editor, {1901, 100, 800, 600});  // 19 on A, 781 on B
    const plinth::Point emptySpotOnA{100, 1000};

    EXPECT_EQ(switcher.focus(screen(0), emptySpotOnA)->windowID, shell.number);
    EXPECT_EQ(switcher.focus(screen(1), emptySpotOnB)->windowID, notes.number);
    EXPECT_EQ(switcher.focus(screen(0), emptySpotOnA)->windowID, shell.number);
    EXPECT_EQ(remembered("0,0"), shell.number);
    EXPECT_EQ(remembered("1920,0"), notes.number);

    // Clicked into while it reached over, it was still remembered for B, not for A.
    switcher.noteManualFocus(*WindowFinder::windowAt({1910, 200}));
    EXPECT_EQ(remembered("0,0"), shell.number);
    EXPECT_EQ(switcher.focus(screen(0), emptySpotOnA)->windowID, shell.number);

    // With no window of its own, the display gets none rather than its neighbour's.
    desktop.closeWindow(shell);
    EXPECT_FALSE(switcher.focus(screen(0), emptySpotOnA));
    // The gaze on the part that reaches over still means that window.
    EXPECT_EQ(switcher.focus(screen(0), {1910, 200})->windowID, notes.number);
}

TEST_F(FocusSwitcherTest, AClosedRememberedWindowGivesWayToTheFrontmost) {
    const auto shell = desktop.openWindow(terminal, {2000, 100, 800, 600});
    switcher.noteManualFocus(*WindowFinder::windowAt({2100, 200}));
    const auto notes = desktop.openWindow(editor, {2900, 500, 800, 400});
    desktop.closeWindow(shell);

    EXPECT_EQ(switcher.focus(screen(1), emptySpotOnB)->windowID, notes.number);
    EXPECT_EQ(remembered("1920,0"), notes.number);
}

TEST_F(FocusSwitcherTest, ADisplayWithoutWindowsChangesNothing) {
    desktop.openWindow(editor, {100, 100, 800, 600}); // on A only

    EXPECT_FALSE(switcher.focus(screen(1), emptySpotOnB));
    EXPECT_THAT(switcher.lastWindowPerScreen(), IsEmpty());
    EXPECT_FALSE(switcher.currentScreenKey());
    EXPECT_EQ(desktop.workspace->activationAttempts(), 0u);
    EXPECT_THAT(desktop.windowServer->warps(), IsEmpty());
}

// --- When the target will not be focused -------------------------------------------------------

TEST_F(FocusSwitcherTest, ARefusedActivationRecordsNothingAndLeavesThePointer) {
    desktop.openWindow(editor, {2000, 100, 800, 600});
    desktop.workspace->refuseActivation(editor);

    EXPECT_FALSE(switcher.focus(screen(1), {2100, 200}));
    EXPECT_THAT(switcher.lastWindowPerScreen(), IsEmpty());
    EXPECT_FALSE(switcher.currentScreenKey());
    EXPECT_THAT(desktop.windowServer->warps(), IsEmpty());
}

TEST_F(FocusSwitcherTest, AWindowOfAProcessThatEndedIsNotTouched) {
    desktop.windowServer->addWindow({777, 0, {2000, 100, 800, 600}, 0, "Ghost", ""});

    EXPECT_FALSE(switcher.focus(screen(1), {2100, 200}));
    EXPECT_THAT(desktop.accessibility->requests(), IsEmpty());
    EXPECT_EQ(desktop.workspace->activationAttempts(), 0u);
}

TEST_F(FocusSwitcherTest, AWindowThatClosesOnTheWayIsNotFocusedNorItsApplicationActivated) {
    // Closed after its accessibility window was found.
    const auto notes = desktop.openWindow(editor, {2000, 100, 800, 600});
    desktop.accessibility->fail(notes.element, Operation::raise, AccessError::invalidElement);
    EXPECT_FALSE(switcher.focus(screen(1), {2100, 200}));

    // Closed right after it was listed, in an application without accessibility.
    desktop.closeWindow(notes);
    const auto shell = desktop.openWindow(terminal, {2000, 100, 800, 600});
    desktop.accessibility->setApplicationError(terminal, AccessError::cannotComplete);
    desktop.services->windowServer =
        std::make_shared<VanishingWindowServer>(desktop.windowServer, shell.number);
    EXPECT_FALSE(switcher.focus(screen(1), {2100, 200}));

    EXPECT_EQ(desktop.workspace->activationAttempts(), 0u);
    EXPECT_THAT(switcher.lastWindowPerScreen(), IsEmpty());
    EXPECT_THAT(desktop.windowServer->warps(), IsEmpty());
}

TEST_F(FocusSwitcherTest, AnApplicationThatDoesNotAnswerAccessibilityIsStillActivated) {
    const auto shell = desktop.openWindow(terminal, {2000, 100, 800, 600});
    desktop.accessibility->setApplicationError(terminal, AccessError::cannotComplete);

    EXPECT_EQ(switcher.focus(screen(1), {2100, 200})->windowID, shell.number);
    EXPECT_THAT(desktop.workspace->activations(), ElementsAre(terminal));
    EXPECT_EQ(remembered("1920,0"), shell.number);
}

// --- The pointer
// ----------------------------------------------------------------------------------

TEST_F(FocusSwitcherTest, ThePointerGoesToTheGazeOnTheTargetElseToItsCentre) {
    const auto notes = desktop.openWindow(editor, {2000, 100, 800, 600});
    switcher.focus(screen(1), {2100, 200});
    switcher.focus(screen(1), emptySpotOnB); // remembered
    desktop.closeWindow(notes);
    desktop.openWindow(terminal, {2400, 400, 400, 200});
    switcher.focus(screen(1), emptySpotOnB); // frontmost

    EXPECT_THAT(
        desktop.windowServer->warps(),
        ElementsAre(plinth::Point{2100, 200}, plinth::Point{2400, 400}, plinth::Point{2600, 500}));
}

TEST_F(FocusSwitcherTest, ThePointerStaysWithMoveCursorOff) {
    Prefs::shared().defaults().setBool(PrefKey::moveCursor, false);
    desktop.openWindow(editor, {2000, 100, 800, 600});

    EXPECT_TRUE(switcher.focus(screen(1), {2100, 200}));
    EXPECT_THAT(desktop.windowServer->warps(), IsEmpty());
}

// --- Clicks and displays
// ---------------------------------------------------------------------------

TEST_F(FocusSwitcherTest, AClickedWindowBelongsToTheDisplayHoldingMostOfIt) {
    switcher.noteManualFocus(
        {terminal, 7, {1620, 100, 800, 600}, "", "", 0, {}}); // 300 on A, 500 on B
    EXPECT_EQ(remembered("1920,0"), 7u);
    EXPECT_EQ(switcher.currentScreenKey(), "1920,0");

    switcher.noteManualFocus({terminal, 8, {1520, 100, 800, 600}, "", "", 0, {}}); // an even split
    EXPECT_EQ(remembered("0,0"), 8u);

    switcher.noteManualFocus({terminal, 9, {5000, 5000, 800, 600}, "", "", 0, {}}); // on no display
    EXPECT_EQ(remembered("0,0"), 9u);
    EXPECT_EQ(switcher.currentScreenKey(), "0,0");

    desktop.displays->setFrames({});
    switcher.noteManualFocus({terminal, 10, {0, 0, 800, 600}, "", "", 0, {}});
    EXPECT_EQ(remembered("0,0"), 9u);
}

TEST_F(FocusSwitcherTest, DisplayKeysTruncateTheNativeOriginTowardZero) {
    EXPECT_EQ(FocusSwitcher::key({1, {0, 0, 1920, 1080}, {}, ""}), "0,0");
    EXPECT_EQ(FocusSwitcher::key({2, {-1440.5, 900.0, 1440, 900}, {}, ""}), "-1440,900");
    EXPECT_EQ(FocusSwitcher::key({3, {-0.7, 1079.9, 100, 100}, {}, ""}), "0,1079");
}

TEST_F(FocusSwitcherTest, DisplaysAreFoundInTheGlobalTopLeftSpace) {
    // A display above the primary, and one to its right with aligned bottoms.
    desktop.displays->setFrames(
        {{0, 0, 1920, 1080}, {0, -1080, 1920, 1080}, {1920, -360, 2560, 1440}});
    const auto screens = desktop.displays->screens();

    EXPECT_EQ(FocusSwitcher::screenAt({100, -1})->id, screens[1].id);
    EXPECT_EQ(FocusSwitcher::screenAt({1920, 500})->id, screens[2].id);
    EXPECT_FALSE(FocusSwitcher::screenAt({100, 1080}));
    EXPECT_EQ(FocusSwitcher::nearestScreen({100, 1200})->id, screens[0].id);
    EXPECT_EQ(FocusSwitcher::screenContaining({1800, -500, 400, 300})->id, screens[2].id);

    desktop.displays->setFrames({});
    EXPECT_FALSE(FocusSwitcher::screenContaining({0, 0, 10, 10}));
    EXPECT_FALSE(FocusSwitcher::nearestScreen({0, 0}));
}

} // namespace
} // namespace orvane
