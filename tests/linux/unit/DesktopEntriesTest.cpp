#include "backends/linux/freedesktop/DesktopEntries.hpp"
#include "SessionBusTestSupport.hpp"
#include "linux/support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

namespace fs = std::filesystem;

// Desktop entries of a data directory of its own, the only one read while it lives.
class OwnDataDirectory {
public:
    OwnDataDirectory() {
        fs::create_directories(root_ / "home/applications");
        fs::create_directories(root_ / "system/applications/kde");
        environment_.set("XDG_DATA_HOME", (root_ / "home").string());
        environment_.set("XDG_DATA_DIRS", (root_ / "system").string());
    }
    void write(const std::string& relative, const std::string& text) const {
        std::ofstream(root_ / relative) << text;
    }

private:
    test::TemporaryDirectory directory_{"orvane-entries"};
    const fs::path& root_ = directory_.path;
    test::ScopedEnvironment environment_;
};

std::string entry(const std::string& name, const std::string& more = "") {
    return "[Desktop Entry]\nType=Application\nName=" + name + "\n" + more;
}

TEST(DesktopEntries, AWindowIsNamedByItsEntryInTheOrderOfWhatItSays) {
    OwnDataDirectory data;
    data.write("system/applications/org.example.Editor.desktop",
               entry("Editor", "Exec=/usr/bin/example-editor %F\n"));
    data.write("system/applications/kde/konsole.desktop",
               entry("Konsole", "StartupWMClass=konsole\n"));
    data.write("system/applications/term.desktop",
               entry("Term", "StartupWMClass=XTerm\nExec=xterm\n"));
    data.write("system/applications/hidden.desktop", entry("Hidden", "Hidden=true\n"));
    // The user's own entry wins over the system's of the same id.
    data.write("system/applications/mine.desktop", entry("System's"));
    data.write("home/applications/mine.desktop", entry("Mine"));

    const DesktopEntries entries;
    EXPECT_EQ(entries.applicationName("org.example.Editor", "", ""), "Editor");
    EXPECT_EQ(entries.applicationIdentifier("", "editor", "editor"), "org.example.Editor")
        << "the tail of the id, whatever its case";
    EXPECT_EQ(entries.applicationIdentifier("", "example-editor", "Other"), "org.example.Editor")
        << "by the executable";
    EXPECT_EQ(entries.applicationIdentifier("", "konsole", "konsole"), "kde-konsole");
    EXPECT_EQ(entries.applicationName("", "xterm", "XTerm"), "Term");
    EXPECT_EQ(entries.applicationName("", "mine", "mine"), "Mine");
    EXPECT_EQ(entries.applicationName("", "hidden", "hidden"), "hidden") << "a hidden entry";
    EXPECT_EQ(entries.applicationIdentifier("", "", ""), std::nullopt);

    // However many windows of other names were asked about, the answers stay the same.
    for (std::size_t i = 0; i < 3 * DesktopEntries::matchesKept; ++i) {
        const auto name = "window-" + std::to_string(i);
        ASSERT_EQ(entries.applicationName("", name, name), name);
    }
    EXPECT_EQ(entries.applicationName("", "xterm", "XTerm"), "Term");
    EXPECT_EQ(entries.applicationIdentifier("", "editor", "editor"), "org.example.Editor");
}

} // namespace
} // namespace orvane::linuxbackend
