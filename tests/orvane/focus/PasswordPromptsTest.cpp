#include "orvane/focus/PasswordPrompts.hpp"
#include "backends/sim/SimDesktop.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orvane {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

TEST(PasswordPromptsTest, NamesTerminalsWhoseTabsShareAProcessAndThePromptsNoneShows) {
    sim::SimDesktop desktop;
    desktop.launchApplication(501, "org.example.Editor", "Editor");
    desktop.openWindow(501, {0, 0, 800, 600});
    EXPECT_THAT(PasswordPrompts::limits(), IsEmpty()) << "no terminal on screen";

    // One window, one shell: its prompt is exactly the one shown.
    desktop.launchApplication(502, "org.example.Foot", "foot");
    desktop.openWindow(502, {100, 100, 800, 600});
    desktop.secureInput->setTerminalSessions(502, 1);
    // Two windows and three tabs served by one process; named once.
    desktop.launchApplication(503, "org.gnome.Terminal", "Terminal");
    desktop.openWindow(503, {200, 200, 800, 600});
    desktop.openWindow(503, {300, 300, 800, 600});
    desktop.secureInput->setTerminalSessions(503, 3);

    const auto limits = PasswordPrompts::limits();
    ASSERT_EQ(limits.size(), 2u);
    EXPECT_THAT(limits[0], HasSubstr("Terminal: its 3 tabs and windows share one process"));
    EXPECT_THAT(limits[0], HasSubstr("a password prompt in any of them holds focus"));
    EXPECT_THAT(limits[1], HasSubstr("tmux or screen"));
}

TEST(PasswordPromptsTest, NamesProgramsThatHideTheirPasswordFieldsOnceEach) {
    sim::SimDesktop desktop;
    desktop.launchApplication(601, "org.example.Wallet", "Wallet");
    desktop.openWindow(601, {0, 0, 800, 600});
    desktop.openWindow(601, {50, 50, 400, 300});
    desktop.secureInput->setHidesPasswordFields(601);
    EXPECT_THAT(PasswordPrompts::limits(),
                ElementsAre("Wallet: its password fields show only while a screen reader runs, "
                            "so focus may move away from them."));

    desktop.launchApplication(602, "org.example.Mail", "Mail");
    desktop.openWindow(602, {100, 100, 800, 600});
    desktop.secureInput->setHidesPasswordFields(602);
    // A terminal's prompts are seen through its pty, whatever its toolkit shows.
    desktop.launchApplication(603, "org.kde.konsole", "Konsole");
    desktop.openWindow(603, {200, 200, 800, 600});
    desktop.secureInput->setTerminalSessions(603, 1);
    desktop.secureInput->setHidesPasswordFields(603);

    const auto limits = PasswordPrompts::limits();
    ASSERT_EQ(limits.size(), 2u);
    EXPECT_THAT(limits[0], HasSubstr(": their password fields show only while a screen reader"));
    EXPECT_THAT(limits[0], HasSubstr("Mail"));
    EXPECT_THAT(limits[0], HasSubstr("Wallet"));
    EXPECT_THAT(limits[0], Not(HasSubstr("Konsole")));
    EXPECT_THAT(limits[1], HasSubstr("tmux or screen"));
}

} // namespace
} // namespace orvane
