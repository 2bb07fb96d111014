#include "backends/linux/wayland/kwin/KWinScriptMessages.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace orvane::linuxbackend::test {
namespace {

namespace M = KWinScriptMessages;

nlohmann::json window(const std::string& id) {
    return {
        {"id", id}, {"caption", "w"}, {"frame", {{"x", 0}, {"y", 0}, {"width", 9}, {"height", 9}}}};
}

std::string windowList(std::size_t count) {
    auto list = nlohmann::json::array();
    for (std::size_t i = 0; i < count; ++i) {
        list.push_back(window(std::string("{").append(std::to_string(i)).append("}")));
    }
    return list.dump();
}

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

TEST(KWinScriptMessages, MessagesPastTheirBoundsAreDroppedWholeAndSaySo) {
    std::string problem;
    ASSERT_TRUE(M::parseWindows(windowList(M::maximumWindows)));
    EXPECT_EQ(M::parseWindows(windowList(M::maximumWindows))->size(), M::maximumWindows);
    EXPECT_FALSE(M::parseWindows(windowList(M::maximumWindows + 1), &problem));
    EXPECT_NE(problem.find("2049 entries"), std::string::npos) << problem;

    // Size, nesting and a single string, each before anything is kept.
    auto big = nlohmann::json::array({window("{a}")});
    big[0]["padding"] = std::string(M::windowsMessageBytes, 'x');
    problem.clear();
    EXPECT_FALSE(M::parseWindows(big.dump(), &problem));
    EXPECT_NE(problem.find("bytes"), std::string::npos) << problem;
    auto longText = nlohmann::json::array({window("{a}")});
    longText[0]["caption"] = std::string(20'000, 'x');
    EXPECT_FALSE(M::parseWindows(longText.dump(), &problem));
    EXPECT_NE(problem.find("string"), std::string::npos) << problem;
    const std::string deep =
        std::string("[") + std::string(100'000, '[') + std::string(100'001, ']');
    EXPECT_FALSE(M::parseWindows(deep, &problem));
    EXPECT_NE(problem.find("deeper"), std::string::npos) << problem;
    EXPECT_FALSE(M::parseOutputs(deep));
    EXPECT_FALSE(M::parseHello(deep));

    // The small messages have a small bound; a list of outputs a small count.
    const std::string padded =
        R"({"version":2,"pad":")" + std::string(M::messageBytes, ' ') + R"("})";
    EXPECT_FALSE(M::parseHello(padded, &problem));
    EXPECT_FALSE(M::parseDone(padded));
    EXPECT_FALSE(M::parseCursor(padded));
    auto outputs = nlohmann::json::array();
    for (int i = 0; i < 65; ++i) {
        outputs.push_back({{"geometry", {{"x", i * 10}, {"y", 0}, {"width", 10}, {"height", 10}}}});
    }
    EXPECT_FALSE(M::parseOutputs(outputs.dump()));
    outputs.erase(outputs.begin());
    EXPECT_EQ(M::parseOutputs(outputs.dump())->size(), 64u);
}

TEST(KWinScriptMessages, TextsAreKeptCutBetweenCharactersAndIdsOnlyWhole) {
    std::string accents;
    for (int i = 0; i < 3000; ++i) {
        accents += "\u00e9"; // two bytes each in UTF-8
    }
    const std::string longId(M::idBytes + 1, 'i');
    const auto windows = M::parseWindows(R"([{"id":"{a}","caption":")" + accents +
                                         R"(","resourceClass":")" + std::string(300, 'k') +
                                         R"(","frame":{"x":0,"y":0,"width":9,"height":9},
            "flags":["dialog","madeUp","dialog","dialog"]},
           {"id":")" + longId + R"(","frame":{"x":0,"y":0,"width":9,"height":9}}])");
    ASSERT_TRUE(windows);
    ASSERT_EQ(windows->size(), 1u); // the one with an id no window of KWin's has is left out
    const auto& kept = (*windows)[0];
    EXPECT_EQ(kept.caption.size(), M::captionBytes); // 2048 whole characters
    EXPECT_EQ(kept.caption.substr(0, 2), "\u00e9");
    EXPECT_EQ(kept.resourceClass.size(), M::classBytes);
    EXPECT_EQ(kept.flags, (std::vector<std::string>{"dialog", "dialog", "dialog"}));

    EXPECT_EQ(M::parseActive(std::string(M::idBytes, 'i')), std::string(M::idBytes, 'i'));
    EXPECT_EQ(M::parseActive(""), "");
    EXPECT_FALSE(M::parseActive(longId));
    EXPECT_FALSE(M::parseDone(R"({"serial":1,"active":")" + longId + R"("})"));
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
