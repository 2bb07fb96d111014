// The settings window's "start when you log in" box, drawn by Qt on the test desktop: over the
// simulated desktop's login items, and once over the real autostart directory.

#include "SettingsToggleFixture.hpp"
#include "backends/linux/freedesktop/XdgLoginItems.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace orvane {
namespace {

class X11Ui_StartAtLogin : public ui::test::SettingsToggleFixture {
protected:
    X11Ui_StartAtLogin() : SettingsToggleFixture("startAtLogin") {}
};

TEST_F(X11Ui_StartAtLogin, TheBoxShowsTheSessionsAnswerOnEveryShowingAndChangesIt) {
    desktop.loginItems->setOutside(true);
    open();
    ASSERT_NE(box(), nullptr);
    EXPECT_EQ(box()->text(), "Start Orvane when you log in");
    EXPECT_TRUE(box()->isChecked());
    EXPECT_EQ(desktop.loginItems->changes(), 0); // showing writes nothing

    toggle();
    EXPECT_FALSE(desktop.loginItems->startsAtLogin());
    EXPECT_FALSE(box()->isChecked());
    EXPECT_EQ(desktop.loginItems->changes(), 1);

    // Turned back on elsewhere while the window was closed.
    desktop.loginItems->setOutside(true);
    reopen();
    EXPECT_TRUE(box()->isChecked());
    EXPECT_EQ(desktop.loginItems->changes(), 1);
    EXPECT_FALSE(desktop.preferences->hasStoredValue("startAtLogin"));
}

TEST_F(X11Ui_StartAtLogin, AChangeThatFailsPutsTheBoxBackAndSaysWhy) {
    open();
    desktop.loginItems->setFailure("could not write /home/u/.config/autostart: Read-only");
    toggle();
    EXPECT_FALSE(box()->isChecked());
    EXPECT_FALSE(desktop.loginItems->startsAtLogin());
    EXPECT_TRUE(problem()->isVisible());
    EXPECT_TRUE(problem()->text().contains("could not write /home/u/.config/autostart"));
    const auto errors = desktop.log->lines(LogLevel::error);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back(), "Could not turn on starting at login: could not write "
                             "/home/u/.config/autostart: Read-only");

    desktop.loginItems->setFailure(std::nullopt);
    toggle();
    EXPECT_TRUE(box()->isChecked());
    EXPECT_TRUE(desktop.loginItems->startsAtLogin());
    EXPECT_FALSE(problem()->isVisible());
}

TEST_F(X11Ui_StartAtLogin, OverTheAutostartDirectoryTheBoxWritesTheEntryAndReadsItBack) {
    const auto config = desktop.supportDirectory / "config";
    const auto entry = config / "autostart" / "net.orvane.Orvane.desktop";
    desktop.services->loginItems =
        std::make_shared<linuxbackend::XdgLoginItems>(entry, "/usr/bin/orvane");
    open();
    EXPECT_FALSE(box()->isChecked());
    toggle();
    EXPECT_TRUE(box()->isChecked());
    EXPECT_TRUE(std::filesystem::is_regular_file(entry));

    // Switched off in the session's own settings, which hide the entry rather than remove it.
    std::ofstream(entry, std::ios::app) << "Hidden=true\n";
    reopen();
    EXPECT_FALSE(box()->isChecked());
    toggle();
    EXPECT_TRUE(box()->isChecked());
    toggle();
    EXPECT_FALSE(box()->isChecked());
    EXPECT_FALSE(std::filesystem::exists(entry));
}

} // namespace
} // namespace orvane
