// The toplevel list of the wlroots link without a compositor: what the foreign-toplevel events
// make of the windows, their order and their outputs, and the bounds on what a compositor may
// send.
#include "backends/linux/wayland/client/ForeignToplevels.hpp"

#include <gtest/gtest.h>

#include <string>

namespace orvane::linuxbackend {
namespace {

constexpr std::uint64_t left = 0x1000;
constexpr std::uint64_t right = 0x2000;

std::vector<ToplevelOutput> sideBySide() {
    ToplevelOutput a;
    a.key = left;
    a.monitor.stageFrame = {0, 0, 1920, 1080};
    a.monitor.connector = "HEADLESS-1";
    ToplevelOutput b;
    b.key = right;
    b.monitor.stageFrame = {1920, 0, 1280, 1024};
    b.monitor.connector = "HEADLESS-2";
    return {a, b};
}

std::uint64_t open(ForeignToplevels& toplevels, const std::string& title, std::uint64_t output,
                   bool activated = false) {
    const auto id = toplevels.add();
    toplevels.setTitle(id, title);
    toplevels.setApplicationId(id, "app." + title);
    toplevels.enterOutput(id, output);
    toplevels.setState(id, activated, false);
    toplevels.done(id);
    return id;
}

bool activate(ForeignToplevels& toplevels, std::uint64_t from, std::uint64_t to) {
    toplevels.setState(from, false, false);
    toplevels.done(from);
    toplevels.setState(to, true, false);
    return toplevels.done(to);
}

std::vector<std::string> titles(const std::vector<CompositorWindow>& windows) {
    std::vector<std::string> result;
    for (const auto& window : windows) {
        result.push_back(window.title);
    }
    return result;
}

TEST(ForeignToplevels, ListsTheLastActivatedFirstEachFillingItsOutput) {
    ForeignToplevels toplevels;
    const auto editor = open(toplevels, "editor", left, true);
    const auto browser = open(toplevels, "browser", right);
    const auto terminal = open(toplevels, "terminal", left);
    const auto outputs = sideBySide();

    // Never activated: after the activated one, newest first.
    EXPECT_EQ(titles(toplevels.windows(outputs)),
              (std::vector<std::string>{"editor", "terminal", "browser"}));
    EXPECT_EQ(toplevels.focused(), editor);

    EXPECT_TRUE(activate(toplevels, editor, browser));
    EXPECT_TRUE(activate(toplevels, browser, terminal));
    const auto windows = toplevels.windows(outputs);
    // On the left output the terminal, focused last there, is in front of the editor.
    EXPECT_EQ(titles(windows), (std::vector<std::string>{"terminal", "browser", "editor"}));
    EXPECT_EQ(toplevels.focused(), terminal);
    EXPECT_EQ(windows[0].monitor, 0);
    EXPECT_EQ(windows[0].frame, (plinth::Rect{0, 0, 1920, 1080}));
    EXPECT_EQ(windows[1].monitor, 1);
    EXPECT_EQ(windows[1].frame, (plinth::Rect{1920, 0, 1280, 1024}));
    EXPECT_EQ(windows[1].buffer, windows[1].frame);
    EXPECT_EQ(windows[1].applicationId, "app.browser");
    EXPECT_EQ(windows[1].pid, 0u); // these protocols never tell
    EXPECT_EQ(windows[1].type, "normal");

    // Activated again, the editor comes back in front.
    EXPECT_TRUE(activate(toplevels, terminal, editor));
    EXPECT_EQ(titles(toplevels.windows(outputs)),
              (std::vector<std::string>{"editor", "terminal", "browser"}));
}

TEST(ForeignToplevels, ChangesCountOnlyOnceTheirDoneCame) {
    ForeignToplevels toplevels;
    const auto outputs = sideBySide();
    const auto id = toplevels.add();
    toplevels.setTitle(id, "half");
    toplevels.enterOutput(id, left);
    // A toplevel whose first `done` has not come is not listed.
    EXPECT_TRUE(toplevels.windows(outputs).empty());
    EXPECT_TRUE(toplevels.pending(id));
    EXPECT_FALSE(toplevels.done(id)); // listed, not activated: the focus stays none
    EXPECT_FALSE(toplevels.pending(id));

    toplevels.setTitle(id, "renamed");
    toplevels.setState(id, true, false);
    EXPECT_EQ(toplevels.windows(outputs)[0].title, "half");
    EXPECT_FALSE(toplevels.activated(id));
    EXPECT_EQ(toplevels.focused(), 0u);
    EXPECT_TRUE(toplevels.done(id));
    EXPECT_EQ(toplevels.windows(outputs)[0].title, "renamed");
    EXPECT_TRUE(toplevels.activated(id));

    // A done that changes nothing of the focus says so.
    toplevels.setTitle(id, "again");
    EXPECT_FALSE(toplevels.done(id));

    // Closed before its first `done` (activated or not), a toplevel was never there.
    const auto brief = toplevels.add();
    toplevels.setTitle(brief, "brief");
    toplevels.setState(brief, true, false);
    EXPECT_FALSE(toplevels.close(brief));
    EXPECT_FALSE(toplevels.done(brief));
    EXPECT_EQ(titles(toplevels.windows(outputs)), (std::vector<std::string>{"again"}));
    EXPECT_EQ(toplevels.focused(), id);
}

TEST(ForeignToplevels, FollowsOutputsAndClosedWindows) {
    ForeignToplevels toplevels;
    const auto outputs = sideBySide();
    const auto wide = open(toplevels, "wide", left, true);
    const auto other = open(toplevels, "other", right);
    toplevels.enterOutput(wide, right);
    toplevels.done(wide);
    EXPECT_EQ(toplevels.windows(outputs)[0].monitor, 0); // its first output
    toplevels.leaveOutput(wide, left);
    toplevels.done(wide);
    EXPECT_EQ(toplevels.windows(outputs)[0].monitor, 1);

    // On an output not (yet) laid out, or none: no monitor, no frame.
    toplevels.leaveOutput(wide, right);
    toplevels.enterOutput(wide, 0x9999);
    toplevels.done(wide);
    EXPECT_EQ(toplevels.windows(outputs)[0].monitor, -1);
    EXPECT_EQ(toplevels.windows(outputs)[0].frame, plinth::Rect{});

    EXPECT_FALSE(toplevels.close(other));
    EXPECT_TRUE(toplevels.close(wide)); // the focused one
    EXPECT_EQ(toplevels.focused(), 0u);
    EXPECT_TRUE(toplevels.windows(outputs).empty());
    // Events for a toplevel that is gone change nothing.
    toplevels.setTitle(wide, "ghost");
    toplevels.setState(wide, true, false);
    EXPECT_FALSE(toplevels.done(wide));
    EXPECT_TRUE(toplevels.windows(outputs).empty());
    // Ids are never reused.
    EXPECT_GT(toplevels.add(), other);
}

TEST(ForeignToplevels, BoundsWhatTheCompositorSends) {
    ForeignToplevels toplevels;
    // Titles and application ids: cut to the bound, never inside a character, ended at a NUL.
    const std::string euro = "\xE2\x82\xAC"; // three bytes
    std::string longTitle(ForeignToplevels::maxTextBytes - 1, 'a');
    longTitle += euro + std::string(10000, 'b');
    const auto id = toplevels.add();
    toplevels.setTitle(id, longTitle);
    toplevels.setApplicationId(id, std::string("org.app\0hidden", 14));
    toplevels.done(id);
    const auto window = toplevels.windows(sideBySide())[0];
    EXPECT_EQ(window.title, std::string(ForeignToplevels::maxTextBytes - 1, 'a'));
    EXPECT_EQ(window.applicationId, "org.app");
    EXPECT_EQ(ForeignToplevels::bounded(std::string(40, 'x') + euro), std::string(40, 'x') + euro);

    // Outputs entered over and over, or more than any desktop has.
    for (std::uint64_t output = 1; output < 1000; ++output) {
        toplevels.enterOutput(id, output);
        toplevels.enterOutput(id, output);
    }
    toplevels.done(id);
    EXPECT_EQ(toplevels.windows(sideBySide())[0].monitor, -1);

    // Toplevels beyond the bound are refused, and room comes back as they close.
    while (toplevels.size() < ForeignToplevels::maxToplevels) {
        ASSERT_NE(toplevels.add(), 0u);
    }
    EXPECT_EQ(toplevels.add(), 0u);
    toplevels.close(id);
    EXPECT_NE(toplevels.add(), 0u);
}

} // namespace
} // namespace orvane::linuxbackend
