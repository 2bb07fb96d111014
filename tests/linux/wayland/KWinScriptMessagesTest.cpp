#include "backends/linux/wayland/kwin/KWinScriptMessages.hpp"

#include <gtest/gtest.h>

namespace orvane::linuxbackend::test {
namespace {

namespace M = KWinScriptMessages;

TEST(KWinScriptMessages, OutputsKeepKWinsOrderAndNameTheUnnamed) {
    const auto outputs = M::parseOutputs(
        R"([{"name":"DP-1","geometry":{"x":1920,"y":0,"width":2560,"height":1440}},
            {"name":"","geometry":{"x":0,"y":200,"width":1920,"height":1080}}])");
    ASSERT_TRUE(outputs);
    ASSERT_EQ(outputs->size(), 2u);
    EXPECT_EQ((*outputs)[0].connector, "DP-1");
    EXPECT_TRUE((*outputs)[0].primary);
    EXPECT_EQ((*outputs)[0].stageFrame.width, 2560);
    // Plasma 5.27 names none; two alike would be one display to the user.
    EXPECT_EQ((*outputs)[1].connector, "Display 2");
    EXPECT_FALSE((*outputs)[1].primary);
}

TEST(KWinScriptMessages, BadOutputsAreLeftOutAndBadMessagesRefused) {
    // Empty, negative, non-finite (as text), missing: none may become a display.
    const auto outputs = M::parseOutputs(
        R"([{"name":"A","geometry":{"x":0,"y":0,"width":0,"height":1080}},
            {"name":"B","geometry":{"x":0,"y":0,"width":-5,"height":1080}},
            {"name":"C","geometry":{"x":"NaN","y":0,"width":100,"height":100}},
            {"name":"D"}, 7, null,
            {"name":"E","geometry":{"x":1e300,"y":0,"width":100,"height":100}},
            {"name":"F","geometry":{"x":0,"y":0,"width":100,"height":100}}])");
    ASSERT_TRUE(outputs);
    ASSERT_EQ(outputs->size(), 1u);
    EXPECT_EQ((*outputs)[0].connector, "F");
    EXPECT_TRUE((*outputs)[0].primary);
    for (const char* bad : {"", "{", "{}", "\"x\"", "[1,2", "null"}) {
        EXPECT_FALSE(M::parseOutputs(bad)) << bad;
        EXPECT_FALSE(M::parseWindows(bad)) << bad;
    }
}

TEST(KWinScriptMessages, WindowsComeFrontToBackWithOnlySoundValues) {
    const auto windows = M::parseWindows(R"([
        {"id":"{a}","pid":41,"caption":"Back","resourceClass":"kate","stacking":1,
         "frame":{"x":10,"y":20,"width":300,"height":200},"output":0,"flags":["normalWindow"]},
        {"id":"{b}","pid":-3,"caption":"Front","stacking":5,"keepAbove":true,"minimized":"yes",
         "frame":{"x":2000,"y":20,"width":300,"height":200},
         "buffer":{"x":1990,"y":10,"width":320,"height":220},"output":1,
         "flags":["dialog","normalWindow",3]},
        {"id":"{c}","stacking":9,"frame":{"x":0,"y":0,"width":10,"height":10},"flags":["deleted"]},
        {"id":"","frame":{"x":0,"y":0,"width":10,"height":10}},
        {"id":"{d}","stacking":9},
        {"id":"{a}","stacking":7,"frame":{"x":0,"y":0,"width":10,"height":10}},
        {"id":"{e}","pid":1.5,"output":-2,"stacking":3,
         "frame":{"x":0,"y":0,"width":10,"height":10}}])");
    ASSERT_TRUE(windows);
    ASSERT_EQ(windows->size(), 3u);
    const auto& front = (*windows)[0];
    EXPECT_EQ(front.id, "{b}");
    EXPECT_EQ(front.pid, 0u); // nonsense is "unknown"
    EXPECT_TRUE(front.keepAbove);
    EXPECT_FALSE(front.minimized); // only a real boolean says so
    EXPECT_EQ(front.buffer.x, 1990);
    EXPECT_EQ(front.output, 1);
    EXPECT_EQ(M::windowType(front.flags), "dialog");
    EXPECT_EQ((*windows)[1].id, "{e}");
    EXPECT_EQ((*windows)[1].pid, 0u);
    EXPECT_EQ((*windows)[1].output, -1);
    const auto& back = (*windows)[2];
    EXPECT_EQ(back.id, "{a}"); // the first of a repeated id counts
    EXPECT_EQ(back.pid, 41u);
    EXPECT_EQ(back.caption, "Back");
    EXPECT_EQ(back.buffer.width, 300); // no buffer: the frame
}

TEST(KWinScriptMessages, WindowTypesTakeTheMostSpecificFlag) {
    EXPECT_EQ(M::windowType({"normalWindow"}), "normal");
    EXPECT_EQ(M::windowType({"popupWindow", "popupMenu"}), "popup_menu");
    EXPECT_EQ(M::windowType({"dropdownMenu", "popupWindow"}), "dropdown_menu");
    EXPECT_EQ(M::windowType({"normalWindow", "dock"}), "dock");
    EXPECT_EQ(M::windowType({"onScreenDisplay"}), "notification");
    EXPECT_EQ(M::windowType({"desktopWindow", "specialWindow"}), "desktop");
    EXPECT_EQ(M::windowType({"popupWindow"}), "override_other");
    EXPECT_EQ(M::windowType({}), "normal");
}

TEST(KWinScriptMessages, HelloDoneAndCursorCheckTheirFields) {
    const auto hello = M::parseHello(R"({"version":1,"api":6})");
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->version, 1u);
    EXPECT_EQ(hello->api, 6);
    EXPECT_EQ(M::parseHello(R"({"version":2,"api":"x"})")->api, 0);
    EXPECT_FALSE(M::parseHello(R"({"version":-1})"));
    EXPECT_FALSE(M::parseHello(R"({"version":1.5})"));
    EXPECT_FALSE(M::parseHello("[]"));

    const auto done = M::parseDone(R"({"serial":7,"active":"{a}","x":12.4,"y":3000})");
    ASSERT_TRUE(done);
    EXPECT_EQ(done->serial, 7u);
    EXPECT_EQ(done->active, "{a}");
    EXPECT_EQ(done->x, 12);
    EXPECT_EQ(done->y, 3000);
    EXPECT_FALSE(M::parseDone(R"({"serial":-7})"));
    EXPECT_FALSE(M::parseDone(R"({"active":"{a}"})"));

    EXPECT_EQ(M::parseCursor(R"({"x":5,"y":6})")->x, 5);
    EXPECT_FALSE(M::parseCursor(R"({"x":5})"));
    EXPECT_FALSE(M::parseCursor(R"({"x":5,"y":1e9})"));
}

TEST(KWinScriptMessages, VersionComesFromSupportInformation) {
    EXPECT_EQ(M::versionFromSupportInformation("Version\n=======\nKWin version: 6.3.6\nQt"),
              "6.3.6");
    EXPECT_EQ(M::versionFromSupportInformation("nothing here"), "");
}

TEST(KWinWindowIds, NumbersAreStableAndNeverGivenTwice) {
    KWinWindowIds ids;
    const auto a = ids.idFor("{a}");
    const auto b = ids.idFor("{b}");
    EXPECT_NE(a, b);
    EXPECT_EQ(ids.idFor("{a}"), a);
    EXPECT_EQ(ids.uuidOf(b), "{b}");
    ids.keepOnly({"{b}"});
    EXPECT_FALSE(ids.uuidOf(a));
    // A window that comes back (or a new one) gets a new number, not a closed one's.
    const auto again = ids.idFor("{a}");
    EXPECT_NE(again, a);
    EXPECT_NE(again, b);
    EXPECT_EQ(ids.idFor("{b}"), b);
}

} // namespace
} // namespace orvane::linuxbackend::test
