#include "backends/linux/atspi/ScreenReaderToolkits.hpp"
#include "linux/support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdlib.h>

namespace orvane::linuxbackend {
namespace {

namespace fs = std::filesystem;
using namespace std::string_view_literals;

TEST(ScreenReaderToolkits, knowsQtGuiFromTheMapsAndTheForcingVariableFromTheEnvironment) {
    EXPECT_TRUE(ScreenReaderToolkits::mapsQtGui(
        "7f00-7f10 r-xp 00000000 08:01 12 /usr/lib/x86_64-linux-gnu/libQt6Gui.so.6.4.2\n"));
    EXPECT_TRUE(ScreenReaderToolkits::mapsQtGui("7f00-7f10 r--p 0 08:01 9 /opt/libQt5Gui.so.5\n"));
    EXPECT_FALSE(
        ScreenReaderToolkits::mapsQtGui("7f00-7f10 r-xp 0 08:01 9 /usr/lib/libQt6Core.so.6\n"
                                        "7f10-7f20 r-xp 0 08:01 9 /usr/lib/libgtk-3.so.0\n"));

    EXPECT_TRUE(ScreenReaderToolkits::forcesAccessibility(
        "HOME=/h\0QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1\0"sv));
    // Set, even empty, is set; the name inside another variable's value, or a longer name, is not.
    EXPECT_TRUE(ScreenReaderToolkits::forcesAccessibility("QT_LINUX_ACCESSIBILITY_ALWAYS_ON="sv));
    EXPECT_FALSE(
        ScreenReaderToolkits::forcesAccessibility("X=QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1\0"sv));
    EXPECT_FALSE(
        ScreenReaderToolkits::forcesAccessibility("QT_LINUX_ACCESSIBILITY_ALWAYS_ONE=1"sv));
}

TEST(ScreenReaderToolkits, aQtProgramHidesItsFieldsOnlyWhileNoScreenReaderRunsAndNothingForcesIt) {
    const test::TemporaryDirectory directory("orvane-proc");
    ASSERT_FALSE(directory.path.empty());
    const fs::path& root = directory.path;
    const auto process = [&](int pid, std::string_view maps, std::string_view environment) {
        fs::create_directories(root / std::to_string(pid));
        std::ofstream(root / std::to_string(pid) / "maps") << maps;
        std::ofstream(root / std::to_string(pid) / "environ", std::ios::binary) << environment;
    };
    process(10, "1-2 r-xp 0 0:0 1 /usr/lib/libQt6Gui.so.6\n", "LANG=C\0"sv);
    process(11, "1-2 r-xp 0 0:0 1 /usr/lib/libQt6Gui.so.6\n",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1\0"sv);
    process(12, "1-2 r-xp 0 0:0 1 /usr/lib/libgtk-3.so.0\n", "LANG=C\0"sv);

    ScreenReaderToolkits toolkits(root.string());
    bool screenReader = false;
    int asked = 0;
    const auto ask = [&] {
        ++asked;
        return screenReader;
    };
    EXPECT_TRUE(toolkits.hidesFields(10, ask));
    EXPECT_FALSE(toolkits.hidesFields(11, ask)) << "forced on by its environment";
    EXPECT_FALSE(toolkits.hidesFields(12, ask)) << "not Qt";
    EXPECT_FALSE(toolkits.hidesFields(13, ask)) << "gone";
    EXPECT_FALSE(toolkits.hidesFields(0, ask));
    EXPECT_EQ(asked, 1) << "the bus is asked about Qt programs only";
    screenReader = true;
    EXPECT_FALSE(toolkits.hidesFields(10, ask));
    fs::remove_all(root);
}

} // namespace
} // namespace orvane::linuxbackend
