#include "orvane/guards/SystemGuards.hpp"
#include "backends/sim/SimDesktop.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace orvane {
namespace {

class SystemGuardsTest : public ::testing::Test {
protected:
    SystemGuardsTest() {
        desktop.windowServer->setPopUpMenuLevel(menuLevel);
        desktop.windowServer->addWindow({501, 0, {0, 0, 800, 600}, 0, "Editor", "notes"});
    }

    std::uint32_t addAtLayer(std::int64_t layer, std::string owner = "Editor") {
        return desktop.windowServer->addWindow({501, 0, {10, 10, 200, 100}, layer, owner, ""});
    }
    void addDockWindow(std::string owner, plinth::Rect frame) {
        desktop.windowServer->addWindow({88, 0, frame, 20, std::move(owner), ""});
    }

    static constexpr std::int64_t menuLevel = 101;
    sim::SimDesktop desktop;
};

// --- Menus
// ----------------------------------------------------------------------------------------

TEST_F(SystemGuardsTest, AWindowAtOrAboveThePopUpMenuLevelIsAnOpenMenu) {
    addAtLayer(menuLevel - 1);
    EXPECT_FALSE(SystemGuards::isMenuOpen());
    addAtLayer(menuLevel);
    EXPECT_TRUE(SystemGuards::isMenuOpen());
}

TEST_F(SystemGuardsTest, AnEntryWithoutALayerIsNoMenu) {
    auto entry = sim::SimWindowServer::entryFor({501, 40, {0, 0, 100, 100}, 0, "Editor", ""});
    entry.layer.reset();
    desktop.windowServer->insertEntry(0, entry);

    EXPECT_FALSE(SystemGuards::isMenuOpen());
}

TEST_F(SystemGuardsTest, TheGazeDotIsNotAMenu) {
    const std::uint32_t dot = addAtLayer(menuLevel + 500, "Orvane");
    SystemGuards::setOverlayWindowNumber(dot);
    EXPECT_FALSE(SystemGuards::isMenuOpen());

    addAtLayer(menuLevel, "Orvane"); // our own menu still counts
    EXPECT_TRUE(SystemGuards::isMenuOpen());
}

TEST_F(SystemGuardsTest, TheDotsRegistrationEndsWithItsPlatform) {
    const std::uint32_t dot = addAtLayer(menuLevel + 500, "Orvane");
    SystemGuards::setOverlayWindowNumber(dot);
    {
        sim::SimDesktop another;
        another.windowServer->setEntries(desktop.windowServer->entries());
        EXPECT_FALSE(SystemGuards::overlayWindowNumber());
        EXPECT_TRUE(SystemGuards::isMenuOpen());
    }
    SystemGuards::setOverlayWindowNumber(std::nullopt);
    EXPECT_TRUE(SystemGuards::isMenuOpen());
}

TEST_F(SystemGuardsTest, AMenuInsideAWindowIsOpenWhateverTheListSays) {
    desktop.windowServer->setMenuOpenInsideWindow(true);
    EXPECT_TRUE(SystemGuards::isMenuOpen());
    // The list failing says nothing about a menu that is no window.
    desktop.windowServer->setListFails(true);
    EXPECT_TRUE(SystemGuards::isMenuOpen());
    desktop.windowServer->setMenuOpenInsideWindow(false);
    EXPECT_FALSE(SystemGuards::isMenuOpen());
}

// --- Mission Control ----------------------------------------------------------------------------

TEST_F(SystemGuardsTest, ADockWindowOverHalfOfTwoDisplaysIsMissionControl) {
    desktop.displays->setFrames({{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}});
    addDockWindow("Dock", {0, 0, 1920, 1080});
    EXPECT_TRUE(SystemGuards::isMissionControlActive());
}

TEST_F(SystemGuardsTest, ADockWindowOverOneOfThreeDisplaysIsNot) {
    desktop.displays->setFrames({{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}, {3840, 0, 1920, 1080}});
    addDockWindow("Dock", {0, 0, 1920, 1080});
    EXPECT_FALSE(SystemGuards::isMissionControlActive());
}

TEST_F(SystemGuardsTest, OnlyTheExactOwnerNameDockCounts) {
    addDockWindow("dock", {0, 0, 1920, 1080});
    addDockWindow("Dock Helper", {0, 0, 1920, 1080});
    addDockWindow(" Dock", {0, 0, 1920, 1080});
    EXPECT_FALSE(SystemGuards::isMissionControlActive());

    auto malformed = sim::SimWindowServer::entryFor({88, 0, {}, 20, "Dock", ""});
    malformed.bounds = plinth::Rect{0, 0, std::numeric_limits<double>::infinity(), 1080};
    desktop.windowServer->insertEntry(0, malformed);
    EXPECT_FALSE(SystemGuards::isMissionControlActive());

    addDockWindow("Dock", {0, 0, 1920, 1080});
    EXPECT_TRUE(SystemGuards::isMissionControlActive());
}

TEST_F(SystemGuardsTest, AnOverviewTheDesktopReportsCountsWithoutAnyWindow) {
    desktop.displays->setFrames({{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}});
    desktop.workspace->setOverviewShowing(true);
    EXPECT_TRUE(SystemGuards::isMissionControlActive());
    desktop.windowServer->setListFails(true);
    EXPECT_TRUE(SystemGuards::isMissionControlActive());
    desktop.workspace->setOverviewShowing(false);
    EXPECT_FALSE(SystemGuards::isMissionControlActive());
}

TEST_F(SystemGuardsTest, NoWindowListHoldsNothingBack) {
    addAtLayer(menuLevel);
    addDockWindow("Dock", {0, 0, 1920, 1080});
    desktop.windowServer->setListFails(true);

    EXPECT_FALSE(SystemGuards::isMenuOpen());
    EXPECT_FALSE(SystemGuards::isMissionControlActive());
}

// --- Launchers
// ------------------------------------------------------------------------------------

TEST_F(SystemGuardsTest, AFrontmostLauncherIsNamed) {
    desktop.workspace->addApplication({70, "com.raycast.macos", "Raycast"});
    desktop.workspace->addApplication({71, "com.runningwithcrayons.Alfred", std::nullopt});
    desktop.workspace->addApplication({72, "com.googlecode.iterm2", "iTerm2"});
    desktop.workspace->addApplication({73, std::nullopt, "Mystery"});

    EXPECT_FALSE(SystemGuards::activeLauncher()); // nothing frontmost
    desktop.workspace->setFrontmost(70);
    EXPECT_EQ(SystemGuards::activeLauncher(), "Raycast");
    desktop.workspace->setFrontmost(71);
    EXPECT_EQ(SystemGuards::activeLauncher(), "launcher");
    desktop.workspace->setFrontmost(72);
    EXPECT_FALSE(SystemGuards::activeLauncher());
    desktop.workspace->setFrontmost(73);
    EXPECT_FALSE(SystemGuards::activeLauncher());
}

TEST_F(SystemGuardsTest, ThePlatformAddsItsOwnLaunchers) {
    desktop.workspace->addApplication({74, "org.example.Runner", "Runner"});
    desktop.workspace->addApplication({75, "com.apple.Spotlight", "Spotlight"});
    desktop.workspace->setFrontmost(74);
    EXPECT_FALSE(SystemGuards::activeLauncher());

    auto conventions = std::make_shared<DesktopConventions>();
    conventions->launcherIdentifiers = {"org.example.Runner"};
    desktop.services->desktopConventions = conventions;
    EXPECT_EQ(SystemGuards::activeLauncher(), "Runner");
    desktop.workspace->setFrontmost(75);
    EXPECT_EQ(SystemGuards::activeLauncher(), "Spotlight");
}

} // namespace
} // namespace orvane
