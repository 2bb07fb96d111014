// Starting at login through the user's XDG autostart directory, on a temporary configuration
// directory.

#include "backends/linux/freedesktop/XdgLoginItems.hpp"
#include "linux/support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

namespace fs = std::filesystem;

class XdgLoginItemsTest : public ::testing::Test {
protected:
    XdgLoginItemsTest() { environment["XDG_CONFIG_HOME"] = config.string(); }

    std::optional<fs::path> entry() const {
        return autostartEntry([this](const char* name) -> const char* {
            const auto found = environment.find(name);
            return found == environment.end() ? nullptr : found->second.c_str();
        });
    }
    XdgLoginItems items(std::string executable = "/opt/orvane/bin/orvane") const {
        return XdgLoginItems(entry(), std::move(executable));
    }
    fs::path entryFile() const { return config / "autostart" / "net.orvane.Orvane.desktop"; }
    void writeEntry(const std::string& text) const {
        fs::create_directories(entryFile().parent_path());
        std::ofstream(entryFile()) << text;
    }
    std::string entryText() const {
        std::ifstream stream(entryFile());
        std::stringstream text;
        text << stream.rdbuf();
        return text.str();
    }

    test::TemporaryDirectory directory{"orvane-autostart"};
    const fs::path& config = directory.path;
    std::map<std::string, std::string> environment;
};

TEST_F(XdgLoginItemsTest, TurningOnWritesAValidEntryThatTurningOffRemoves) {
    auto loginItems = items();
    EXPECT_FALSE(loginItems.startsAtLogin());

    // The autostart directory does not exist yet.
    const auto on = loginItems.setStartsAtLogin(true);
    EXPECT_TRUE(on.succeeded) << on.problem;
    EXPECT_TRUE(loginItems.startsAtLogin());
    EXPECT_NE(entryText().find("\nExec=/opt/orvane/bin/orvane\n"), std::string::npos);
    if (std::system("command -v desktop-file-validate >/dev/null") == 0) {
        const auto command = "desktop-file-validate '" + entryFile().string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    // Nothing but the entry is left in the directory (no temporary from the atomic write).
    EXPECT_EQ(std::distance(fs::directory_iterator(entryFile().parent_path()), {}), 1);

    EXPECT_TRUE(loginItems.setStartsAtLogin(true).succeeded);
    EXPECT_TRUE(loginItems.setStartsAtLogin(false).succeeded);
    EXPECT_FALSE(fs::exists(entryFile()));
    EXPECT_FALSE(loginItems.startsAtLogin());
    // Off when already off is no failure.
    EXPECT_TRUE(loginItems.setStartsAtLogin(false).succeeded);
}

TEST_F(XdgLoginItemsTest, TheEntryIsFoundThroughXdgConfigHomeElseHome) {
    EXPECT_EQ(entry(), entryFile());
    environment["HOME"] = "/home/someone";
    environment["XDG_CONFIG_HOME"] = "relative/config"; // not absolute: ignored
    EXPECT_EQ(entry(), fs::path("/home/someone/.config/autostart/net.orvane.Orvane.desktop"));
    environment.clear();
    EXPECT_EQ(entry(), std::nullopt);

    XdgLoginItems nowhere(std::nullopt, "/usr/bin/orvane");
    EXPECT_FALSE(nowhere.startsAtLogin());
    const auto change = nowhere.setStartsAtLogin(true);
    EXPECT_FALSE(change.succeeded);
    EXPECT_FALSE(change.problem.empty());
}

TEST_F(XdgLoginItemsTest, AHiddenOrDisabledEntryCountsAsOffUntilTurnedOnAgain) {
    auto loginItems = items();
    writeEntry("[Desktop Entry]\nType=Application\nExec=orvane\nHidden=true\n");
    EXPECT_FALSE(loginItems.startsAtLogin());
    writeEntry("[Desktop Entry]\nExec=orvane\nX-GNOME-Autostart-enabled = false\n");
    EXPECT_FALSE(loginItems.startsAtLogin());
    // Only the main group says whether the entry is hidden.
    writeEntry("# mine\n[Desktop Entry]\nExec=orvane\n\n[Desktop Action x]\nHidden=true\n");
    EXPECT_TRUE(loginItems.startsAtLogin());
    writeEntry("Exec=orvane\n");
    EXPECT_FALSE(loginItems.startsAtLogin());

    writeEntry("[Desktop Entry]\nExec=orvane\nHidden=true\n");
    EXPECT_TRUE(loginItems.setStartsAtLogin(true).succeeded);
    EXPECT_TRUE(loginItems.startsAtLogin());
    EXPECT_EQ(entryText().find("Hidden"), std::string::npos);
}

TEST_F(XdgLoginItemsTest, ExecQuotesAndEscapesPathsAsDesktopEntriesRequire) {
    EXPECT_EQ(XdgLoginItems::execValue("/usr/bin/orvane"), "/usr/bin/orvane");
    EXPECT_EQ(XdgLoginItems::execValue("/opt/100%/orvane"), "/opt/100%%/orvane");
    EXPECT_EQ(XdgLoginItems::execValue("/home/a b/orvane"), "\"/home/a b/orvane\"");
    // Quoting escapes " ` $ \ with a backslash; the string rules then double every backslash.
    EXPECT_EQ(XdgLoginItems::execValue("/x/$a`b\\c\"d'e%/orvane"),
              "\"/x/\\\\$a\\\\`b\\\\\\\\c\\\\\"d'e%%/orvane\"");

    auto spaced = items("/home/a b/orvane");
    ASSERT_TRUE(spaced.setStartsAtLogin(true).succeeded);
    EXPECT_NE(entryText().find("\nExec=\"/home/a b/orvane\"\n"), std::string::npos);
}

TEST_F(XdgLoginItemsTest, AChangeThatCannotBeMadeSaysWhyAndChangesNothing) {
    EXPECT_FALSE(items("orvane").setStartsAtLogin(true).succeeded); // not an absolute path
    EXPECT_FALSE(fs::exists(entryFile()));

    // Something that is not a directory where the autostart directory belongs.
    std::ofstream(config / "autostart") << "not a directory";
    auto loginItems = items();
    auto change = loginItems.setStartsAtLogin(true);
    EXPECT_FALSE(change.succeeded);
    EXPECT_NE(change.problem.find((config / "autostart").string()), std::string::npos)
        << change.problem;
    EXPECT_FALSE(loginItems.startsAtLogin());
    EXPECT_TRUE(loginItems.setStartsAtLogin(false).succeeded); // there is nothing to remove

    // A directory where the entry belongs: neither written over nor removed.
    fs::remove(config / "autostart");
    fs::create_directories(entryFile());
    change = loginItems.setStartsAtLogin(true);
    EXPECT_FALSE(change.succeeded);
    EXPECT_NE(change.problem.find("could not write"), std::string::npos) << change.problem;
    change = loginItems.setStartsAtLogin(false);
    EXPECT_FALSE(change.succeeded);
    EXPECT_NE(change.problem.find("could not remove"), std::string::npos) << change.problem;
    EXPECT_TRUE(fs::is_directory(entryFile()));
    EXPECT_FALSE(loginItems.startsAtLogin());

    // A directory the user may not write to (root may write anywhere).
    if (::geteuid() != 0) {
        fs::remove(entryFile());
        fs::permissions(entryFile().parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
        change = loginItems.setStartsAtLogin(true);
        EXPECT_FALSE(change.succeeded);
        EXPECT_NE(change.problem.find("Permission denied"), std::string::npos) << change.problem;
        fs::permissions(entryFile().parent_path(), fs::perms::owner_all);
    }
}

} // namespace
} // namespace orvane::linuxbackend
