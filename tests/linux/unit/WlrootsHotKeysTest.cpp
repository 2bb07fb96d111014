// Whether the user's compositor config binds Orvane's pause toggle, read as --diagnose and the
// tray read it: labwc's rc.xml and Wayfire's wayfire.ini, bindings in comments not counted.
#include "backends/linux/wayland/wlroots/WlrootsHotKeys.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace orvane::linuxbackend {
namespace {

class WlrootsHotKeysTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvane-wlroots-keys.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        home_ = pattern;
        variables_["HOME"] = home_;
    }
    void TearDown() override { std::filesystem::remove_all(home_); }

    WlrootsHotKeys keys() {
        return WlrootsHotKeys([this](const char* name) -> const char* {
            auto found = variables_.find(name);
            return found == variables_.end() ? nullptr : found->second.c_str();
        });
    }
    void write(const std::string& relative, const std::string& text) {
        const auto path = std::filesystem::path(home_) / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << text;
    }

    std::string home_;
    std::map<std::string, std::string> variables_;
};

TEST_F(WlrootsHotKeysTest, ReadsLabwcsRcXmlAndSaysWhetherTheToggleIsBound) {
    variables_["XDG_CURRENT_DESKTOP"] = "labwc:wlroots";
    EXPECT_EQ(keys().configFile(), home_ + "/.config/labwc/rc.xml");
    // No config at all: not bound, and the tray is told the chord is not there.
    EXPECT_EQ(keys().bound(), false);
    EXPECT_EQ(keys().registerHotKey(Key::g, 0, [] {}), std::nullopt);
    EXPECT_NE(keys().describe(Key::g, 0).find("NOT BOUND"), std::string::npos);

    // A binding written out of use in a comment does not count.
    write(".config/labwc/rc.xml", R"(<labwc_config><keyboard>
  <!-- <keybind key="W-S-g"><action name="Execute" command="orvane --toggle-pause"/></keybind> -->
</keyboard></labwc_config>)");
    EXPECT_EQ(keys().bound(), false);

    write(".config/labwc/rc.xml", R"(<labwc_config><keyboard><!-- mine -->
  <keybind key="W-S-g"><action name="Execute" command="orvane --toggle-pause"/></keybind>
</keyboard></labwc_config>)");
    EXPECT_EQ(keys().bound(), true);
    auto bound = keys();
    const auto token = bound.registerHotKey(Key::g, 0, [] {});
    EXPECT_TRUE(token.has_value());
    bound.unregisterHotKey(*token);
    EXPECT_NE(keys().describe(Key::g, 0).find("your key binding in " + home_), std::string::npos);

    // XDG_CONFIG_HOME wins when it is an absolute path, and only then.
    variables_["XDG_CONFIG_HOME"] = home_ + "/elsewhere";
    EXPECT_EQ(keys().configFile(), home_ + "/elsewhere/labwc/rc.xml");
    EXPECT_EQ(keys().bound(), false);
    variables_["XDG_CONFIG_HOME"] = "relative";
    EXPECT_EQ(keys().bound(), true);
}

TEST_F(WlrootsHotKeysTest, ReadsWayfiresIniAndLeavesOtherCompositorsUnchecked) {
    variables_["XDG_CURRENT_DESKTOP"] = "Wayfire";
    write(".config/wayfire.ini", "[command]\n# command_pause = orvane --toggle-pause\n");
    EXPECT_EQ(keys().bound(), false);
    write(".config/wayfire.ini", "[command]\nbinding_orvane = <super> <shift> KEY_G\n"
                                 "command_orvane = orvane --toggle-pause\n");
    EXPECT_EQ(keys().bound(), true);
    variables_["WAYFIRE_CONFIG_FILE"] = home_ + "/other.ini";
    EXPECT_EQ(keys().bound(), false);

    // Where the config is unknown, nothing is claimed either way.
    variables_["XDG_CURRENT_DESKTOP"] = "wlroots";
    EXPECT_EQ(keys().bound(), std::nullopt);
    EXPECT_TRUE(keys().registerHotKey(Key::g, 0, [] {}).has_value());
    EXPECT_NE(keys().describe(Key::g, 0).find("not checked"), std::string::npos);
}

TEST_F(WlrootsHotKeysTest, ReadsNoMoreThanItsBoundOfAConfig) {
    variables_["XDG_CURRENT_DESKTOP"] = "labwc";
    // The binding past the bound is not seen: a config that large is not read whole.
    write(".config/labwc/rc.xml", std::string(WlrootsHotKeys::maxConfigBytes, ' ') +
                                      "<action command=\"orvane --toggle-pause\"/>");
    EXPECT_EQ(keys().bound(), false);
    // An unterminated comment hides the rest.
    EXPECT_FALSE(WlrootsHotKeys::bindsToggle("<!-- orvane --toggle-pause", false));
}

} // namespace
} // namespace orvane::linuxbackend
