#include "orvane/guards/InputGuards.hpp"
#include "backends/sim/SimDesktop.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

namespace orvane {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

constexpr double past = Clock::distantPast;

class InputGuardsTest : public ::testing::Test {
protected:
    InputGuardsTest() {
        desktop.displays->setFrames({{0, 0, 1920, 1080}, {1920, 0, 2560, 1440}});
        guards->onClick = [this](plinth::Point point) {
            clicks.push_back(point);
        };
        guards->start();
    }

    // Delivers, lets a moment pass, then runs the posted updates: "now" is when they run.
    void settle() {
        desktop.clock->advance(1.0);
        desktop.mainQueue->runPending();
    }
    void type(Key key, std::uint64_t flags) {
        desktop.pressKey(key, flags);
        settle();
    }
    double now() const { return desktop.clock->monotonic(); }

    sim::SimDesktop desktop;
    std::unique_ptr<InputGuards> guards = std::make_unique<InputGuards>();
    std::vector<plinth::Point> clicks;
};

// --- Monitors
// -------------------------------------------------------------------------------------

TEST_F(InputGuardsTest, InstallsOneSetOfFourMonitorsHoweverOftenStarted) {
    EXPECT_THAT(desktop.inputMonitor->masks(), UnorderedElementsAre(1024u, 4096u, 0x4000E0u, 10u));
    guards->start();
    EXPECT_EQ(desktop.inputMonitor->monitorCount(), 4u);

    desktop.click({10, 10});
    desktop.mainQueue->runPending();
    EXPECT_EQ(clicks.size(), 1u);

    guards->stop();
    guards->stop();
    EXPECT_EQ(desktop.inputMonitor->monitorCount(), 0u);
    guards->start();
    EXPECT_EQ(desktop.inputMonitor->monitorCount(), 4u);
    guards.reset();
    EXPECT_EQ(desktop.inputMonitor->monitorCount(), 0u);
}

TEST_F(InputGuardsTest, AMonitorThePlatformWillNotInstallIsLeftOut) {
    guards->stop();
    desktop.inputMonitor->setInstallFails(true);
    guards->start();
    EXPECT_EQ(guards->monitorCount(), 0u);
}

TEST_F(InputGuardsTest, UpdatesArriveOnTheMainQueueAndNotAfterTheGuardsAreGone) {
    desktop.pressKey(Key::a);
    desktop.click({300, 300});
    EXPECT_EQ(guards->lastTextKeystroke(), past); // not yet: posted
    guards.reset();

    desktop.mainQueue->runPending();
    EXPECT_TRUE(clicks.empty());
}

TEST_F(InputGuardsTest, EventsMayComeFromAnotherThread) {
    std::thread platformThread([&] {
        for (int i = 0; i < 50; ++i) {
            desktop.pressKey(Key::a);
            desktop.click({static_cast<double>(10 * i), 100});
        }
    });
    platformThread.join();
    settle();

    EXPECT_EQ(guards->lastTextKeystroke(), now());
    EXPECT_EQ(clicks.size(), 50u);
}

// --- Keys
// -----------------------------------------------------------------------------------------

TEST_F(InputGuardsTest, CommandCopiesAndCutsOnDesktopsWhereCommandCCopies) {
    type(Key::c, ModifierFlag::command);
    EXPECT_EQ(guards->lastCopy(), now());
    EXPECT_EQ(guards->lastCommandChord(), now());

    type(Key::x, ModifierFlag::command | ModifierFlag::shift);
    EXPECT_EQ(guards->lastCopy(), now());

    const double copied = now();
    type(Key::v, ModifierFlag::command);
    type(Key::c, ModifierFlag::control);
    EXPECT_EQ(guards->lastCommandChord(), now());
    EXPECT_EQ(guards->lastCopy(), copied);
    EXPECT_EQ(guards->lastTextKeystroke(), past);
}

TEST_F(InputGuardsTest, ControlCopiesWhereThePlatformSaysSo) {
    guards->stop();
    auto conventions = std::make_shared<DesktopConventions>();
    conventions->copyModifier = ModifierFlag::control;
    desktop.services->desktopConventions = conventions;
    guards->start();

    type(Key::c, ModifierFlag::control | ModifierFlag::shift); // a terminal's copy
    EXPECT_EQ(guards->lastCopy(), now());
    type(Key::x, ModifierFlag::control);
    EXPECT_EQ(guards->lastCopy(), now());

    const double copied = now();
    type(Key::c, ModifierFlag::command);
    type(Key::v, ModifierFlag::control);
    EXPECT_EQ(guards->lastCopy(), copied);
    EXPECT_EQ(guards->lastCommandChord(), now());
    EXPECT_EQ(guards->lastTextKeystroke(), past);
}

TEST_F(InputGuardsTest, KeysWithShiftOrOptionAloneAreTyping) {
    type(Key::a, ModifierFlag::shift);
    EXPECT_EQ(guards->lastTextKeystroke(), now());
    type(Key::c, ModifierFlag::option | ModifierFlag::capsLock);
    EXPECT_EQ(guards->lastTextKeystroke(), now());
    EXPECT_EQ(guards->lastCommandChord(), past);
    EXPECT_EQ(guards->lastCopy(), past);
}

TEST_F(InputGuardsTest, ModifierChangesKeepTheWholeMaskAndNoTime) {
    const std::uint64_t commandDown = ModifierFlag::command | 0x8; // with a device bit
    desktop.changeModifiers(commandDown);
    settle();
    EXPECT_EQ(guards->heldModifiers(), commandDown);
    desktop.changeModifiers(0);
    settle();
    EXPECT_EQ(guards->heldModifiers(), 0u);
    EXPECT_EQ(guards->lastCommandChord(), past);
    EXPECT_EQ(guards->lastTextKeystroke(), past);

    // Restarted between a chord's press and its release: the release is never heard.
    desktop.changeModifiers(commandDown);
    settle();
    guards->stop();
    desktop.changeModifiers(0);
    guards->start();
    settle();
    EXPECT_EQ(guards->heldModifiers(), 0u);

    // A press heard just before a restart whose update runs after it: the release went to the
    // monitors removed, so the press must not count either.
    desktop.changeModifiers(commandDown);
    guards->stop();
    guards->start();
    settle();
    EXPECT_EQ(guards->heldModifiers(), 0u);
}

// --- Pointer
// --------------------------------------------------------------------------------------

TEST_F(InputGuardsTest, OnlyMovesOfMoreThanTwoPointsCount) {
    guards->setLastPointerPosition({100, 100});
    desktop.movePointer({102, 100});
    settle();
    EXPECT_EQ(guards->lastPointerMove(), past);
    EXPECT_EQ(guards->lastPointerPosition(), (plinth::Point{102, 100}));

    for (int step = 1; step <= 20; ++step) { // creeping 20 points, one at a time
        desktop.movePointer({102, 100.0 + step});
        settle();
    }
    EXPECT_EQ(guards->lastPointerMove(), past);

    desktop.movePointer({104, 120.5});
    settle();
    EXPECT_EQ(guards->lastPointerMove(), now());
}

TEST_F(InputGuardsTest, AScrollWithAStillPointerIsNoMove) {
    guards->setLastPointerPosition({500, 500});
    desktop.windowServer->setPointer({500, 500});
    desktop.scroll();
    settle();
    EXPECT_EQ(guards->lastPointerMove(), past);
}

TEST_F(InputGuardsTest, AClickIsPointerActivityThenReportsWhereThePointerIsNow) {
    desktop.click({400, 300});
    desktop.windowServer->setPointer({401, 700}); // it moved on before the update ran
    settle();

    EXPECT_THAT(clicks, ElementsAre(plinth::Point{401, 700}));
    EXPECT_EQ(guards->lastPointerMove(), now());
    EXPECT_EQ(guards->lastPointerPosition(), (plinth::Point{401, 700}));

    desktop.click({2000, -300}, true); // right button, on the taller display
    settle();
    guards->onClick = nullptr;
    desktop.click({900, 900});
    settle();
    EXPECT_THAT(clicks, ElementsAre(plinth::Point{401, 700}, plinth::Point{2000, -300}));
    EXPECT_EQ(guards->lastPointerPosition(), (plinth::Point{900, 900}));
}

TEST_F(InputGuardsTest, ThePointerIsMeasuredDownFromThePrimaryDisplaysTop) {
    desktop.windowServer->setPointer({2000, -300});
    EXPECT_EQ(InputGuards::pointerLocation(), (plinth::Point{2000, -300}));

    desktop.displays->setFrames({});
    EXPECT_EQ(InputGuards::pointerLocation(), (plinth::Point{2000, -300}));
}

} // namespace
} // namespace orvane
