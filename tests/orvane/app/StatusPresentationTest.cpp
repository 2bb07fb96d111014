#include "orvane/app/StatusPresentation.hpp"

#include "backends/sim/SimDesktop.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvane {
namespace {

// The menu as people read it: one line per item, "---" for a separator, the disabled, checked
// and shortcut states in brackets.
std::vector<std::string> lines(const std::vector<MenuItem>& items) {
    std::vector<std::string> result;
    for (const auto& item : items) {
        if (item.separator) {
            result.push_back("---");
            continue;
        }
        std::string line = item.title;
        if (!item.enabled) {
            line += " [disabled]";
        }
        if (item.checkable) {
            line += item.checked ? " [checked]" : " [unchecked]";
        }
        if (!item.shortcut.empty()) {
            line += " [" + item.shortcut + "]";
        }
        result.push_back(line);
    }
    return result;
}

class StatusPresentationTest : public ::testing::Test {
protected:
    std::vector<std::string> menuFor(MenuState state) {
        return lines(StatusPresentation::menu(state, *desktop.words));
    }

    sim::SimDesktop desktop;
};

TEST_F(StatusPresentationTest, summariesAndIconsFollowEveryStatus) {
    using StatusPresentation::icon;
    using StatusPresentation::summary;
    EXPECT_EQ(summary(GazeStatus::tracking("DELL U2720Q")), "Watching DELL U2720Q");
    EXPECT_EQ(summary(GazeStatus::waiting("typing")), "Holding \xE2\x80\x94 typing");
    EXPECT_EQ(summary(GazeStatus::needsCamera()), "Camera access needed");
    EXPECT_EQ(summary(GazeStatus::needsAccessibility()), "Accessibility access needed");
    EXPECT_EQ(summary(GazeStatus::needsCalibration()), "Not calibrated yet");
    EXPECT_EQ(summary(GazeStatus::paused()), "Paused");
    EXPECT_EQ(summary(GazeStatus::noFace()), "Can't see you");

    EXPECT_EQ(icon(GazeStatus::tracking("A")), StatusIcon::tracking);
    EXPECT_EQ(icon(GazeStatus::waiting("typing")), StatusIcon::waiting);
    for (const auto& setUp : {GazeStatus::needsCamera(), GazeStatus::needsAccessibility(),
                              GazeStatus::needsCalibration()}) {
        EXPECT_EQ(icon(setUp), StatusIcon::setup) << describe(setUp);
    }
    EXPECT_EQ(icon(GazeStatus::paused()), StatusIcon::paused);
    EXPECT_EQ(icon(GazeStatus::noFace()), StatusIcon::noFace);
}

TEST_F(StatusPresentationTest, gazeDotOnlyWhileLookingForTheUser) {
    using StatusPresentation::showsGazeDot;
    EXPECT_TRUE(showsGazeDot(GazeStatus::tracking("A"), true));
    EXPECT_TRUE(showsGazeDot(GazeStatus::waiting("typing"), true));
    EXPECT_TRUE(showsGazeDot(GazeStatus::noFace(), true));
    EXPECT_FALSE(showsGazeDot(GazeStatus::paused(), true));
    EXPECT_FALSE(showsGazeDot(GazeStatus::needsCalibration(), true));
    EXPECT_FALSE(showsGazeDot(GazeStatus::tracking("A"), false));
}

TEST_F(StatusPresentationTest, setUpMenusOfferOnlySetUpSettingsAndQuit) {
    const std::vector<std::string> accessibility = {"Accessibility access needed [disabled]",
                                                    "---",
                                                    "Finish Setup\xE2\x80\xA6",
                                                    "Relaunch Orvane",
                                                    "---",
                                                    "Settings\xE2\x80\xA6 [Ctrl+,]",
                                                    "---",
                                                    "Quit Orvane [Ctrl+Q]"};
    EXPECT_EQ(menuFor({GazeStatus::needsAccessibility()}), accessibility);

    const std::vector<std::string> calibration = {
        "Not calibrated yet [disabled]", "---", "Finish Setup\xE2\x80\xA6", "---",
        "Settings\xE2\x80\xA6 [Ctrl+,]", "---", "Quit Orvane [Ctrl+Q]"};
    // Pause, drift and the dot mean nothing before set-up is done.
    EXPECT_EQ(menuFor({GazeStatus::needsCalibration(), true, true, false, true}), calibration);

    const auto items = StatusPresentation::menu({GazeStatus::needsAccessibility()}, *desktop.words);
    EXPECT_EQ(items[3].action, MenuAction::relaunch);
    EXPECT_EQ(items[3].tooltip, "Use this if you have already turned on accessibility");
    EXPECT_EQ(items[2].action, MenuAction::finishSetup);
    EXPECT_TRUE(items[2].tooltip.empty());
}

TEST_F(StatusPresentationTest, trackingMenuShowsPauseStateDriftAndTheDot) {
    const std::vector<std::string> pausedWithDrift = {
        "Paused [disabled]",
        "---",
        "Resume [Shift+Super+G]",
        "\xE2\x9A\xA0\xEF\xB8\x8E Accuracy has drifted [disabled]",
        "Recalibrate\xE2\x80\xA6",
        "Show Gaze Dot [unchecked]",
        "---",
        "Settings\xE2\x80\xA6 [Ctrl+,]",
        "---",
        "Quit Orvane [Ctrl+Q]"};
    EXPECT_EQ(menuFor({GazeStatus::paused(), true, true, false, false}), pausedWithDrift);

    // Running, no drift, dot on, a calibration under way: Pause, no warning, Recalibrate off.
    const auto running = menuFor({GazeStatus::tracking("MID"), false, false, true, true});
    const std::vector<std::string> head(running.begin(), running.begin() + 5);
    EXPECT_EQ(head, (std::vector<std::string>{
                        "Watching MID [disabled]", "---", "Pause [Shift+Super+G]",
                        "Recalibrate\xE2\x80\xA6 [disabled]", "Show Gaze Dot [checked]"}));

    // A desktop that cannot give every guard says so under the status, its sentence the tip.
    MenuState reduced{GazeStatus::tracking("MID")};
    reduced.reducedGuards = "Clicks are not seen here.";
    const auto withReduced = StatusPresentation::menu(reduced, *desktop.words);
    ASSERT_GE(withReduced.size(), 3u);
    EXPECT_EQ(withReduced[1].title, "Fewer guards on this desktop");
    EXPECT_FALSE(withReduced[1].enabled);
    EXPECT_EQ(withReduced[1].tooltip, "Clicks are not seen here.");
    EXPECT_TRUE(withReduced[2].separator);

    const auto actions = StatusPresentation::menu({GazeStatus::noFace()}, *desktop.words);
    std::vector<MenuAction> chosen;
    for (const auto& item : actions) {
        if (!item.separator) {
            chosen.push_back(item.action);
        }
    }
    EXPECT_EQ(chosen, (std::vector<MenuAction>{MenuAction::none, MenuAction::togglePause,
                                               MenuAction::recalibrate, MenuAction::toggleGazeDot,
                                               MenuAction::openSettings, MenuAction::quit}));
}

} // namespace
} // namespace orvane
