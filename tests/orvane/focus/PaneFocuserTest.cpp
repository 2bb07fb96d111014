#include "orvane/focus/PaneFocuser.hpp"
#include "backends/sim/SimDesktop.hpp"
#include "orvane/support/Prefs.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ElementID = sim::SimAccessibility::ElementID;
using Operation = sim::SimAccessibility::Operation;

constexpr std::uint64_t optionCommand = ModifierFlag::option | ModifierFlag::command;
constexpr std::uint64_t shiftOption = ModifierFlag::shift | ModifierFlag::option;

std::vector<sim::PostedKeyEvent> press(Key key, std::uint64_t flags) {
    return {{key, flags, true}, {key, flags, false}};
}

// A 1000 x 500 window at the origin, split into a left and a right pane.
class PaneFocuserTest : public ::testing::Test {
protected:
    PaneFocuserTest() {
        desktop.launchApplication(editor, "org.example.Editor", "Editor");
        desktop.launchApplication(iterm, "com.googlecode.iterm2", "iTerm2");
        desktop.launchApplication(kitty, "net.kovidgoyal.kitty", "kitty");
    }

    // window → split group → two scroll areas, each holding a plain group (what is hit).
    ElementID buildPanes(pid_t pid) {
        auto& ax = *desktop.accessibility;
        const ElementID window = ax.addWindow(pid, frame);
        const ElementID split = ax.addElement(window, AccessibleRole::group, frame);
        leftPane = ax.addElement(split, AccessibleRole::scrollArea, plinth::Rect{0, 0, 500, 500});
        rightPane =
            ax.addElement(split, AccessibleRole::scrollArea, plinth::Rect{500, 0, 500, 500});
        ax.addElement(leftPane, AccessibleRole::group, plinth::Rect{0, 0, 500, 500});
        ax.addElement(rightPane, AccessibleRole::group, plinth::Rect{500, 0, 500, 500});
        return window;
    }
    ScreenWindow windowOf(pid_t pid) const { return {pid, 1, frame, "", "", 0, {}}; }
    std::vector<sim::PostedKeyEvent> keys() const {
        return desktop.windowServer->postedKeyEvents();
    }

    static constexpr pid_t editor = 601;
    static constexpr pid_t iterm = 602;
    static constexpr pid_t kitty = 603;
    const plinth::Rect frame{0, 0, 1000, 500};
    ElementID leftPane = 0;
    ElementID rightPane = 0;
    sim::SimDesktop desktop;
    PaneFocuser focuser;
};

// --- Accessibility
// --------------------------------------------------------------------------------

TEST_F(PaneFocuserTest, ClimbsFromTheHitElementToTheNearestFocusablePane) {
    buildPanes(editor);

    EXPECT_TRUE(focuser.focusPane(windowOf(editor), {800, 250}));
    EXPECT_EQ(desktop.accessibility->focusedElement(editor), rightPane);
    EXPECT_EQ(focuser.lastPaneFrame(), (plinth::Rect{500, 0, 500, 500}));

    EXPECT_TRUE(focuser.focusPane(windowOf(editor), {100, 250}));
    EXPECT_EQ(desktop.accessibility->focusedElement(editor), leftPane);
}

TEST_F(PaneFocuserTest, LooksAtMostTwelveElementsUp) {
    // A text area with a chain of plain groups inside it; the hit element is the innermost.
    auto chainUnderTextArea = [&](pid_t pid, int groups) {
        auto& ax = *desktop.accessibility;
        ElementID element =
            ax.addElement(ax.addWindow(pid, frame), AccessibleRole::textArea, frame);
        for (int i = 0; i < groups; ++i) {
            element = ax.addElement(element, AccessibleRole::group, frame);
        }
    };
    chainUnderTextArea(editor, 11); // the text area is the 12th element examined
    desktop.launchApplication(700, "org.example.Deep", "Deep");
    chainUnderTextArea(700, 12); // ...and here the 13th

    EXPECT_FALSE(focuser.focusPane(windowOf(700), {500, 250}));
    EXPECT_FALSE(desktop.accessibility->focusedElement(700));
    EXPECT_TRUE(focuser.focusPane(windowOf(editor), {500, 250}));
}

TEST_F(PaneFocuserTest, ABrokenChainOrAnUnreadableRoleIsNoPane) {
    buildPanes(editor);
    desktop.accessibility->fail(rightPane, Operation::role, AccessError::cannotComplete);
    desktop.accessibility->fail(leftPane, Operation::role, AccessError::failure);
    desktop.accessibility->fail(rightPane, Operation::parent, AccessError::cannotComplete);

    EXPECT_FALSE(focuser.focusPane(windowOf(editor), {800, 250}));
    EXPECT_FALSE(focuser.focusPane(windowOf(editor), {100, 250})); // climbs to the window
    EXPECT_FALSE(desktop.accessibility->focusedElement(editor));
    EXPECT_THAT(keys(), IsEmpty());
}

TEST_F(PaneFocuserTest, TheSamePaneAgainIsLeftAlone) {
    buildPanes(editor);
    ASSERT_TRUE(focuser.focusPane(windowOf(editor), {800, 250}));
    const auto requests = desktop.accessibility->requests().size();

    EXPECT_FALSE(focuser.focusPane(windowOf(editor), {900, 100}));
    EXPECT_EQ(desktop.accessibility->requests().size(), requests);

    focuser.clearLastPaneFrame();
    EXPECT_TRUE(focuser.focusPane(windowOf(editor), {900, 100}));
}

TEST_F(PaneFocuserTest, ARefusedFocusStillRemembersThePane) {
    buildPanes(editor);
    desktop.accessibility->fail(rightPane, Operation::focus, AccessError::failure);

    EXPECT_FALSE(focuser.focusPane(windowOf(editor), {800, 250}));
    EXPECT_EQ(focuser.lastPaneFrame(), (plinth::Rect{500, 0, 500, 500}));
}

// --- Shortcuts ----------------------------------------------------------------------------------

TEST_F(PaneFocuserTest, AProfiledTerminalGetsAnArrowWhenAccessibilityHasNothing) {
    // No accessibility tree at all: the hit-test finds nothing.
    EXPECT_TRUE(focuser.focusPane(windowOf(iterm), {710, 250}));
    EXPECT_THAT(keys(), press(Key::rightArrow, optionCommand));
}

TEST_F(PaneFocuserTest, LookingAtTheSamePaneAgainFallsBackToTheShortcut) {
    buildPanes(iterm);
    ASSERT_TRUE(focuser.focusPane(windowOf(iterm), {800, 250}));
    ASSERT_THAT(keys(), IsEmpty());

    EXPECT_TRUE(focuser.focusPane(windowOf(iterm), {800, 250}));
    EXPECT_THAT(keys(), press(Key::rightArrow, optionCommand));
}

TEST_F(PaneFocuserTest, NoDirectionWithinTheMiddleFifthOfTheWindow) {
    // x = 700 is exactly 0.2 of the width right of the centre.
    EXPECT_FALSE(focuser.focusPane(windowOf(kitty), {700, 250}));
    EXPECT_FALSE(focuser.focusPane(windowOf(kitty), {500, 350}));
    EXPECT_THAT(keys(), IsEmpty());

    EXPECT_TRUE(focuser.focusPane(windowOf(kitty), {710, 250}));
    EXPECT_THAT(keys(), press(Key::rightArrow, shiftOption));
}

TEST_F(PaneFocuserTest, TheArrowFollowsTheLargerOffsetAndTiesGoHorizontal) {
    auto arrowFor = [&](plinth::Point gaze) {
        const auto before = keys().size();
        EXPECT_TRUE(focuser.focusPane(windowOf(iterm), gaze));
        const auto after = keys();
        EXPECT_EQ(after.size(), before + 2);
        return after.back().key;
    };
    EXPECT_EQ(arrowFor({800, 400}), Key::rightArrow); // |dx| = |dy| = 0.3
    EXPECT_EQ(arrowFor({200, 100}), Key::leftArrow);  // |dx| = |dy| = 0.3
    EXPECT_EQ(arrowFor({500, 100}), Key::upArrow);    // 30 % of the height above
    EXPECT_EQ(arrowFor({600, 450}), Key::downArrow);
}

TEST_F(PaneFocuserTest, OnlyProfiledApplicationsGetShortcuts) {
    desktop.launchApplication(800, "com.googlecode.iterm2.quickopen", "Open Quickly");
    desktop.workspace->addApplication({801, std::nullopt, "No identifier"});

    EXPECT_FALSE(focuser.focusPane(windowOf(editor), {900, 250}));
    EXPECT_FALSE(focuser.focusPane(windowOf(800), {900, 250}));
    EXPECT_FALSE(focuser.focusPane(windowOf(801), {900, 250}));
    EXPECT_FALSE(focuser.focusPane(windowOf(999), {900, 250})); // process gone
    EXPECT_THAT(keys(), IsEmpty());
}

TEST_F(PaneFocuserTest, NothingPostedIsNoPaneSwitch) {
    desktop.windowServer->setKeyPostingFails(true);
    EXPECT_FALSE(focuser.focusPane(windowOf(iterm), {900, 250}));
}

TEST_F(PaneFocuserTest, ThePlatformsOwnProfilesComeFirst) {
    auto conventions = std::make_shared<DesktopConventions>();
    conventions->terminalProfiles["org.example.Mux"] = {ModifierFlag::shift,
                                                        KeyChord{Key::a, ModifierFlag::control}};
    conventions->terminalProfiles["net.kovidgoyal.kitty"] = {ModifierFlag::control, std::nullopt};
    desktop.services->desktopConventions = conventions;
    desktop.launchApplication(900, "org.example.Mux", "Mux");

    EXPECT_TRUE(focuser.focusPane(windowOf(900), {100, 250}));
    EXPECT_TRUE(focuser.focusPane(windowOf(kitty), {100, 250}));
    EXPECT_TRUE(focuser.focusPane(windowOf(iterm), {100, 250}));

    EXPECT_THAT(keys(),
                ElementsAre(sim::PostedKeyEvent{Key::a, ModifierFlag::control, true},
                            sim::PostedKeyEvent{Key::a, ModifierFlag::control, false},
                            sim::PostedKeyEvent{Key::leftArrow, ModifierFlag::shift, true},
                            sim::PostedKeyEvent{Key::leftArrow, ModifierFlag::shift, false},
                            sim::PostedKeyEvent{Key::leftArrow, ModifierFlag::control, true},
                            sim::PostedKeyEvent{Key::leftArrow, ModifierFlag::control, false},
                            sim::PostedKeyEvent{Key::leftArrow, optionCommand, true},
                            sim::PostedKeyEvent{Key::leftArrow, optionCommand, false}));
}

// --- Multiplexers --------------------------------------------------------------------------------

// A terminal of 100 x 25 cells (10 x 20 points each) filling the window: tmux with a left pane
// (%0, active) and a right one (%1) side by side, a border column between them, the status
// line at the bottom.
class PaneFocuserMultiplexerTest : public PaneFocuserTest {
protected:
    PaneFocuserMultiplexerTest() {
        desktop.launchApplication(xterm, "xterm", "XTerm");
        desktop.terminalMultiplexer->setLayout(xterm, sideBySide());
    }
    static MultiplexerLayout sideBySide() {
        return {100, 25, {{"%0", 0, 0, 50, 24, true}, {"%1", 51, 0, 49, 24, false}}};
    }
    std::vector<std::pair<pid_t, std::string>> selections() const {
        return desktop.terminalMultiplexer->selections();
    }
    static constexpr pid_t xterm = 604;
};

TEST_F(PaneFocuserMultiplexerTest, SelectsThePaneUnderTheGazeAndLeavesTheActiveOneAlone) {
    EXPECT_TRUE(focuser.focusPane(windowOf(xterm), {800, 250}));
    EXPECT_THAT(selections(), ElementsAre(std::pair{xterm, std::string("%1")}));

    // %1 is active now: looking at it again, or at any cell of it, asks nothing more.
    EXPECT_FALSE(focuser.focusPane(windowOf(xterm), {800, 250}));
    EXPECT_FALSE(focuser.focusPane(windowOf(xterm), {999, 0}));
    EXPECT_EQ(selections().size(), 1u);

    EXPECT_TRUE(focuser.focusPane(windowOf(xterm), {0, 479}));
    EXPECT_EQ(selections().back(), (std::pair{xterm, std::string("%0")}));
    EXPECT_THAT(keys(), IsEmpty());
}

TEST_F(PaneFocuserMultiplexerTest, BordersAndTheStatusLineAreNoPane) {
    // Column 50 is the border; row 24 the status line.
    EXPECT_FALSE(focuser.focusPane(windowOf(xterm), {505, 250}));
    EXPECT_FALSE(focuser.focusPane(windowOf(xterm), {800, 485}));
    EXPECT_TRUE(focuser.focusPane(windowOf(xterm), {515, 250}));
    EXPECT_THAT(selections(), ElementsAre(std::pair{xterm, std::string("%1")}));

    // With the status line at the top, row 0 is no pane and the panes start a row lower.
    auto top = sideBySide();
    for (auto& pane : top.panes) {
        pane.row = 1;
    }
    desktop.terminalMultiplexer->setLayout(xterm, top);
    EXPECT_FALSE(focuser.focusPane(windowOf(xterm), {800, 10}));
    EXPECT_TRUE(focuser.focusPane(windowOf(xterm), {800, 25}));
}

TEST_F(PaneFocuserMultiplexerTest, CellsAreCountedInTheWindowsContentWithoutItsDecorations) {
    // A 30-point title bar above the same 1000 x 500 terminal.
    ScreenWindow window{xterm, 1, {0, 0, 1000, 530}, "", "", 0, plinth::Rect{0, 30, 1000, 500}};
    EXPECT_FALSE(focuser.focusPane(window, {800, 20})); // the title bar
    EXPECT_TRUE(focuser.focusPane(window, {800, 35}));  // row 0 of the right pane
    EXPECT_THAT(selections(), ElementsAre(std::pair{xterm, std::string("%1")}));
}

TEST_F(PaneFocuserMultiplexerTest, ComesBeforeAccessibilityAndTheTerminalsOwnShortcuts) {
    // A profiled terminal whose accessibility shows panes of its own, running tmux.
    buildPanes(kitty);
    desktop.terminalMultiplexer->setLayout(kitty, sideBySide());

    EXPECT_TRUE(focuser.focusPane(windowOf(kitty), {800, 250}));
    // On the active pane nothing else is tried either: the terminal's keys would reach tmux.
    EXPECT_FALSE(focuser.focusPane(windowOf(kitty), {800, 250}));
    EXPECT_TRUE(focuser.focusPane(windowOf(kitty), {100, 250}));
    EXPECT_THAT(selections(), ElementsAre(std::pair{kitty, std::string("%1")},
                                          std::pair{kitty, std::string("%0")}));
    EXPECT_FALSE(desktop.accessibility->focusedElement(kitty));
    EXPECT_THAT(keys(), IsEmpty());
}

TEST_F(PaneFocuserMultiplexerTest, WithoutTmuxInTheForegroundTheOtherWaysDecide) {
    // tmux quit in the profiled terminal: its shortcut again.
    desktop.terminalMultiplexer->setLayout(kitty, sideBySide());
    desktop.terminalMultiplexer->removeLayout(kitty);
    EXPECT_TRUE(focuser.focusPane(windowOf(kitty), {800, 250}));
    EXPECT_THAT(keys(), press(Key::rightArrow, shiftOption));

    // A platform without the service.
    buildPanes(editor);
    desktop.services->terminalMultiplexer = nullptr;
    EXPECT_TRUE(focuser.focusPane(windowOf(editor), {800, 250}));
    EXPECT_EQ(desktop.accessibility->focusedElement(editor), rightPane);
    EXPECT_THAT(selections(), IsEmpty());
}

TEST_F(PaneFocuserMultiplexerTest, ALayoutThatCannotFillTheWindowIsLeftToTheTerminal) {
    // tmux in one of kitty's own splits: 50 columns cannot fill 1000 points with 20-point rows
    // (cells as wide as tall), so kitty's shortcut moves between its splits.
    desktop.terminalMultiplexer->setLayout(
        kitty, {50, 25, {{"%0", 0, 0, 24, 24, true}, {"%1", 25, 0, 25, 24, false}}});
    EXPECT_TRUE(focuser.focusPane(windowOf(kitty), {800, 250}));
    EXPECT_THAT(keys(), press(Key::rightArrow, shiftOption));

    // Cells four times as tall as wide, or no cells at all: the same.
    for (const MultiplexerLayout& layout :
         {MultiplexerLayout{200, 25, sideBySide().panes}, MultiplexerLayout{0, 0, {}}}) {
        desktop.terminalMultiplexer->setLayout(xterm, layout);
        EXPECT_FALSE(focuser.focusPane(windowOf(xterm), {800, 250}));
    }
    EXPECT_THAT(selections(), IsEmpty());
}

TEST_F(PaneFocuserMultiplexerTest, AFailedSelectionIsNoSwitch) {
    desktop.terminalMultiplexer->failSelection(xterm);
    EXPECT_FALSE(focuser.focusPane(windowOf(xterm), {800, 250}));
    EXPECT_EQ(selections().size(), 1u);
}

// --- Gates
// ----------------------------------------------------------------------------------------

TEST_F(PaneFocuserTest, NothingIsAskedWithFocusPanesOffOrTheGazeOutsideTheWindow) {
    buildPanes(iterm);
    const auto calls = desktop.accessibility->callCount();

    EXPECT_FALSE(focuser.focusPane(windowOf(iterm), {1000, 250})); // right edge: outside
    Prefs::shared().defaults().setBool(PrefKey::focusPanes, false);
    EXPECT_FALSE(focuser.focusPane(windowOf(iterm), {800, 250}));

    EXPECT_EQ(desktop.accessibility->callCount(), calls);
    EXPECT_EQ(desktop.terminalMultiplexer->layoutRequests(), 0);
    EXPECT_THAT(keys(), IsEmpty());
}

} // namespace
} // namespace orvane
