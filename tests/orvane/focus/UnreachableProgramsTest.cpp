#include "orvane/focus/UnreachablePrograms.hpp"
#include "backends/sim/SimDesktop.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class UnreachableProgramsTest : public ::testing::Test {
protected:
    // A program with a window that never joined the accessibility interface.
    void startUnreached(pid_t pid, const std::string& name, plinth::Rect frame) {
        desktop.launchApplication(pid, "org.example." + name, name);
        desktop.openWindow(pid, frame, name + " window");
        desktop.accessibility->removeApplication(pid);
    }

    sim::SimDesktop desktop;
};

TEST_F(UnreachableProgramsTest, NamesProgramsWithWindowsButNotOnTheInterfaceFrontmostFirstOnce) {
    desktop.launchApplication(501, "org.example.Editor", "Editor");
    desktop.openWindow(501, {0, 0, 800, 600});
    startUnreached(502, "Files", {100, 100, 800, 600});
    startUnreached(503, "gedit", {200, 200, 800, 600});
    desktop.openWindow(502, {300, 300, 400, 300}); // a second window of Files, in front
    desktop.accessibility->removeApplication(502);
    // A terminal without any accessibility support: a restart would not help.
    startUnreached(504, "XTerm", {400, 400, 800, 600});
    desktop.accessibility->setSpeaksAccessibility(504, false);
    // Orvane's own windows are no program to restart.
    startUnreached(sim::SimProcessInfo::ownID, "Orvane", {500, 500, 520, 420});

    const auto names = UnreachablePrograms::list();
    EXPECT_THAT(names, ElementsAre("Files", "gedit"));
    EXPECT_EQ(
        UnreachablePrograms::restartAdvice(names),
        "Restart these programs so Orvane can see their windows and password fields: Files, gedit");

    // Restarted, it joins the interface.
    desktop.accessibility->addApplication(502);
    EXPECT_THAT(UnreachablePrograms::list(), ElementsAre("gedit"));
}

TEST_F(UnreachableProgramsTest, NamesNothingWhileNotTrusted) {
    startUnreached(502, "Files", {100, 100, 800, 600});
    desktop.accessibility->setTrusted(false);
    EXPECT_THAT(UnreachablePrograms::list(), IsEmpty());
    EXPECT_EQ(UnreachablePrograms::restartAdvice({}), "");
}

} // namespace
} // namespace orvane
