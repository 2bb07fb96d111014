#include "backends/linux/wayland/BoundedJson.hpp"

#include <gtest/gtest.h>

namespace orvane::linuxbackend::test {
namespace {

constexpr JsonLimits roomy{1u << 20, 10'000, 16, 1024};

std::string nested(std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

TEST(BoundedJson, ReadsWhatTheLibraryReadsWithinTheLimits) {
    const std::string text = R"({"a":[1,-2,3.5,true,null,{"b":"c"}],"d":{},"e":[],"a":"again",
                                 "u":"\u00e9\ud83d\ude00"})";
    const auto read = parseBoundedJson(text, roomy);
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, nlohmann::json::parse(text));
    EXPECT_EQ(parseBoundedJson("7", roomy), nlohmann::json(7));
    EXPECT_EQ(parseBoundedJson("18446744073709551615", roomy)->get<std::uint64_t>(),
              18446744073709551615ULL);
}

TEST(BoundedJson, EachLimitHoldsAtItsValueAndRefusesPastIt) {
    const JsonLimits limits{64, 6, 3, 4};
    std::string problem;
    // Bytes: the text itself.
    EXPECT_TRUE(parseBoundedJson(std::string(62, ' ') + "[]", limits));
    EXPECT_FALSE(parseBoundedJson(std::string(63, ' ') + "[]", limits, &problem));
    EXPECT_NE(problem.find("65 bytes"), std::string::npos) << problem;
    // Depth: arrays and objects in one another.
    EXPECT_TRUE(parseBoundedJson(nested(3), limits));
    EXPECT_FALSE(parseBoundedJson(nested(4), limits, &problem));
    EXPECT_NE(problem.find("deeper"), std::string::npos) << problem;
    EXPECT_FALSE(parseBoundedJson(R"({"a":{"b":{"c":{}}}})", limits));
    // Values, a member's name counting as one.
    EXPECT_TRUE(parseBoundedJson("[1,2,3,4,5]", limits));
    EXPECT_FALSE(parseBoundedJson("[1,2,3,4,5,6]", limits, &problem));
    EXPECT_NE(problem.find("values"), std::string::npos) << problem;
    EXPECT_TRUE(parseBoundedJson(R"({"a":1,"b":2})", limits));
    EXPECT_FALSE(parseBoundedJson(R"({"a":1,"b":2,"c":3})", limits));
    // Strings and names.
    EXPECT_TRUE(parseBoundedJson(R"(["abcd"])", limits));
    EXPECT_FALSE(parseBoundedJson(R"(["abcde"])", limits, &problem));
    EXPECT_NE(problem.find("string"), std::string::npos) << problem;
    EXPECT_FALSE(parseBoundedJson(R"({"abcde":1})", limits));
}

TEST(BoundedJson, NotJsonIsRefusedAndNestingAsDeepAsTheTextNeverRecurses) {
    std::string problem;
    for (const char* bad : {"", "{", "[1,]", "[1] x", "{\"a\"}", "\"\\ud83d\"", "nul"}) {
        problem.clear();
        EXPECT_FALSE(parseBoundedJson(bad, roomy, &problem)) << bad;
        EXPECT_NE(problem.find("not JSON"), std::string::npos) << bad << ": " << problem;
    }
    // A million levels is refused at the limit, not by running out of stack.
    EXPECT_FALSE(parseBoundedJson(nested(1'000'000), {8u << 20, 4'000'000, 512, 16}));
}

TEST(BoundedJson, TextIsCutOnlyBetweenCharacters) {
    EXPECT_EQ(truncateUtf8("short", 10), "short");
    EXPECT_EQ(truncateUtf8("abcdef", 3), "abc");
    EXPECT_EQ(truncateUtf8("a\u00e9", 2), "a");                  // é is two bytes
    EXPECT_EQ(truncateUtf8("ab\U0001F600", 5), "ab");            // 😀 is four
    EXPECT_EQ(truncateUtf8("ab\U0001F600c", 6), "ab\U0001F600"); // whole, then cut
    EXPECT_EQ(truncateUtf8("\u00e9\u00e9", 0), "");
}

} // namespace
} // namespace orvane::linuxbackend::test
