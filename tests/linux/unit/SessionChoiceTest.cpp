#include "backends/linux/SessionChoice.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

namespace orvane::linuxbackend {
namespace {

EnvironmentLookup lookupIn(const std::map<std::string, std::string>& variables) {
    return [&variables](const char* name) -> const char* {
        const auto found = variables.find(name);
        return found == variables.end() ? nullptr : found->second.c_str();
    };
}

SessionChoice choiceIn(const std::map<std::string, std::string>& variables) {
    return detectSession(lookupIn(variables));
}

TEST(SessionChoice, X11SessionsAndGnomeOnWaylandAreWorkedWith) {
    struct Case {
        std::map<std::string, std::string> variables;
        DesktopFamily family;
    } const cases[] = {
        {{}, DesktopFamily::x11},
        {{{"XDG_SESSION_TYPE", "x11"}, {"DISPLAY", ":0"}, {"XDG_CURRENT_DESKTOP", "KDE"}},
         DesktopFamily::x11},
        {{{"XDG_SESSION_TYPE", "tty"}}, DesktopFamily::x11},
        {{{"XDG_SESSION_TYPE", "waylandish"}, {"XDG_CURRENT_DESKTOP", "sway"}}, DesktopFamily::x11},
        {{{"WAYLAND_DISPLAY", ""}, {"XDG_SESSION_TYPE", ""}}, DesktopFamily::x11},
        {{{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "GNOME"}}, DesktopFamily::gnome},
        {{{"XDG_SESSION_TYPE", "Wayland"}, {"XDG_CURRENT_DESKTOP", "ubuntu:GNOME"}},
         DesktopFamily::gnome},
        {{{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_CURRENT_DESKTOP", "gnome-classic:gnome"}},
         DesktopFamily::gnome},
        // Started under XWayland: DISPLAY is there too, and the compositor is still GNOME's.
        {{{"WAYLAND_DISPLAY", "wayland-0"},
          {"DISPLAY", ":0"},
          {"XDG_SESSION_TYPE", "x11"},
          {"XDG_CURRENT_DESKTOP", "GNOME"}},
         DesktopFamily::gnome},
        {{{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "GNOMEish"}},
         DesktopFamily::unsupported},
        {{{"WAYLAND_DISPLAY", "wayland-1"}, {"XDG_CURRENT_DESKTOP", "sway"}}, DesktopFamily::sway},
        {{{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_CURRENT_DESKTOP", "KDE"}}, DesktopFamily::kwin},
        // Started from a console, sway names no desktop; its socket tells.
        {{{"WAYLAND_DISPLAY", "wayland-1"}, {"SWAYSOCK", "/run/user/1000/sway-ipc.sock"}},
         DesktopFamily::sway},
        // Hyprland names itself; from a console, its instance's signature tells.
        {{{"WAYLAND_DISPLAY", "wayland-1"}, {"XDG_CURRENT_DESKTOP", "Hyprland"}},
         DesktopFamily::hyprland},
        {{{"XDG_SESSION_TYPE", "wayland"}, {"HYPRLAND_INSTANCE_SIGNATURE", "abc_1_2"}},
         DesktopFamily::hyprland},
        {{{"WAYLAND_DISPLAY", "wayland-1"}, {"HYPRLAND_INSTANCE_SIGNATURE", ""}},
         DesktopFamily::unsupported},
        // labwc sets "labwc:wlroots" for its programs; Wayfire sets "Wayfire".
        {{{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_CURRENT_DESKTOP", "labwc:wlroots"}},
         DesktopFamily::wlroots},
        {{{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "Wayfire"}},
         DesktopFamily::wlroots},
        {{{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_CURRENT_DESKTOP", "labwcish"}},
         DesktopFamily::unsupported},
        // Not a Wayland session: the X server's desktop, whatever the variable says.
        {{{"DISPLAY", ":0"}, {"XDG_CURRENT_DESKTOP", "labwc"}}, DesktopFamily::x11},
    };
    for (const auto& c : cases) {
        const auto choice = choiceIn(c.variables);
        EXPECT_EQ(choice.family, c.family) << ::testing::PrintToString(c.variables);
        EXPECT_EQ(choice.reason.empty(), c.family != DesktopFamily::unsupported);
    }
}

TEST(SessionChoice, OtherWaylandDesktopsAreNamedInOneSentence) {
    const auto other =
        choiceIn({{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_CURRENT_DESKTOP", "LXQt"}});
    EXPECT_EQ(other.family, DesktopFamily::unsupported);
    EXPECT_NE(other.reason.find("GNOME and KDE Plasma on Wayland"), std::string::npos);
    EXPECT_NE(other.reason.find("in labwc and Wayfire"), std::string::npos);
    EXPECT_NE(other.reason.find("in Hyprland"), std::string::npos);
    EXPECT_NE(other.reason.find("(LXQt)"), std::string::npos);
    EXPECT_NE(other.reason.find("choose an X11 session"), std::string::npos);
    EXPECT_EQ(other.reason.find('\n'), std::string::npos);
    EXPECT_NE(choiceIn({{"XDG_SESSION_TYPE", "wayland"}}).reason.find("(unknown)"),
              std::string::npos);
    EXPECT_NE(choiceIn({{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "niri"}})
                  .reason.find("(niri)"),
              std::string::npos);
}

// A build without a family meets its sessions as unsupported, saying what it lacks; with it,
// they are worked with as detected.
TEST(SessionChoice, FamiliesTheBuildLacksAreUnsupportedAndNamed) {
    const std::map<std::string, std::string> x11 = {{"DISPLAY", ":0"}};
    const std::map<std::string, std::string> kde = {{"WAYLAND_DISPLAY", "wayland-0"},
                                                    {"XDG_CURRENT_DESKTOP", "KDE"}};
    const std::map<std::string, std::string> gnome = {{"XDG_SESSION_TYPE", "wayland"},
                                                      {"XDG_CURRENT_DESKTOP", "GNOME"}};
    const std::map<std::string, std::string> sway = {{"SWAYSOCK", "/run/sway.sock"},
                                                     {"WAYLAND_DISPLAY", "wayland-1"}};
    const std::map<std::string, std::string> other = {{"WAYLAND_DISPLAY", "wayland-0"},
                                                      {"XDG_CURRENT_DESKTOP", "LXQt"}};
    const std::map<std::string, std::string> labwc = {{"WAYLAND_DISPLAY", "wayland-0"},
                                                      {"XDG_CURRENT_DESKTOP", "labwc:wlroots"}};
    const std::map<std::string, std::string> hyprland = {{"WAYLAND_DISPLAY", "wayland-1"},
                                                         {"XDG_CURRENT_DESKTOP", "Hyprland"}};
    for (const auto* variables : {&x11, &kde, &gnome, &sway, &labwc, &hyprland}) {
        const auto detected = detectSession(lookupIn(*variables));
        const auto chosen = chooseSession(lookupIn(*variables));
        if (builtWith(detected.family)) {
            EXPECT_EQ(chosen.family, detected.family);
            EXPECT_TRUE(chosen.reason.empty());
        } else {
            EXPECT_EQ(chosen.family, DesktopFamily::unsupported);
            const auto lacking = detected.family == DesktopFamily::x11 ? "without X11 support"
                                                                       : "without Wayland support";
            EXPECT_NE(chosen.reason.find(lacking), std::string::npos) << chosen.reason;
        }
    }
    EXPECT_FALSE(builtWith(DesktopFamily::unsupported));
    EXPECT_EQ(chooseSession(lookupIn(other)).reason, detectSession(lookupIn(other)).reason);
    // The build's own absences are said the same way.
    const auto absent = absentFeatures();
    const auto says = [&absent](const char* word) {
        return std::any_of(absent.begin(), absent.end(), [word](const std::string& phrase) {
            return phrase.find(word) != std::string::npos;
        });
    };
    EXPECT_EQ(builtWith(DesktopFamily::x11), !says("X11"));
    EXPECT_EQ(builtWith(DesktopFamily::kwin), !says("Wayland"));
}

} // namespace
} // namespace orvane::linuxbackend
