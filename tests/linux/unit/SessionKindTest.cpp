#include "backends/linux/session/SessionKind.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace orvane::linuxbackend {
namespace {

std::string reasonIn(const std::map<std::string, std::string>& variables) {
    return unsupportedSessionReason([&variables](const char* name) -> const char* {
        const auto found = variables.find(name);
        return found == variables.end() ? nullptr : found->second.c_str();
    });
}

TEST(SessionKind, EitherSignOfWaylandIsEnoughAndTheSentenceSaysWhatToDo) {
    const auto reason = reasonIn({{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}});
    EXPECT_NE(reason.find("Wayland"), std::string::npos);
    EXPECT_NE(reason.find("log out and choose an X11 session"), std::string::npos);
    EXPECT_EQ(reason.find('\n'), std::string::npos); // one sentence, one line
    EXPECT_EQ(reasonIn({{"XDG_SESSION_TYPE", "wayland"}}), reason);
    EXPECT_EQ(reasonIn({{"XDG_SESSION_TYPE", "Wayland"}}), reason);
    // A compositor is there even when the login manager claims otherwise.
    EXPECT_EQ(reasonIn({{"XDG_SESSION_TYPE", "x11"}, {"WAYLAND_DISPLAY", "wayland-1"}}), reason);
}

TEST(SessionKind, X11AndUnknownSessionsAreLeftAlone) {
    EXPECT_EQ(reasonIn({}), "");
    EXPECT_EQ(reasonIn({{"XDG_SESSION_TYPE", "x11"}, {"DISPLAY", ":0"}}), "");
    EXPECT_EQ(reasonIn({{"XDG_SESSION_TYPE", "tty"}}), "");
    EXPECT_EQ(reasonIn({{"WAYLAND_DISPLAY", ""}, {"XDG_SESSION_TYPE", ""}}), "");
    EXPECT_EQ(reasonIn({{"XDG_SESSION_TYPE", "waylandish"}}), "");
}

} // namespace
} // namespace orvane::linuxbackend
