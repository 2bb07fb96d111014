#include "orvane/calibration/CalibrationFile.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace orvane {
namespace {

using plinth::CalibrationSample;

CalibrationPayload payloadOf(std::variant<CalibrationPayload, std::string> decoded) {
    if (auto* payload = std::get_if<CalibrationPayload>(&decoded)) {
        return std::move(*payload);
    }
    ADD_FAILURE() << std::get<std::string>(decoded);
    return {};
}

std::string problemOf(const std::variant<CalibrationPayload, std::string>& decoded) {
    return decoded.index() == 1 ? std::get<std::string>(decoded) : "<decoded>";
}

TEST(CalibrationFile, EncodesCompactlyAndEveryNumberReadsBackBitForBit) {
    const std::vector<CalibrationSample> samples = {
        {{1, -0.2, 0.1 + 0.2, -0.0, 5e-324}, 100, -2559.123456789012, 0.04},
        {{}, 1e20, 123456789012345680000.0, std::numeric_limits<double>::max()},
    };
    const auto text = CalibrationFile::encode(samples, "0,0,1920x1080");
    EXPECT_EQ(text.substr(0, 126), R"({"samples":[{"features":[1.0,-0.2,0.30000000000000004,-0.0,)"
                                   R"(5e-324],"targetX":100.0,"targetY":-2559.123456789012,)"
                                   R"("area":0.04},{)");
    EXPECT_TRUE(text.ends_with(R"(],"layoutSignature":"0,0,1920x1080"})")) << text;

    const auto decoded = payloadOf(CalibrationFile::decode(text));
    ASSERT_EQ(decoded.samples.size(), 2u);
    EXPECT_EQ(decoded.sampleCount, 2u);
    EXPECT_EQ(decoded.layoutSignature, "0,0,1920x1080");
    EXPECT_TRUE(std::signbit(decoded.samples[0].features[3]));
    EXPECT_EQ(decoded.samples[0].features, samples[0].features);
    EXPECT_EQ(decoded.samples[0].targetY, samples[0].targetY);
    EXPECT_EQ(decoded.samples[1].targetY, samples[1].targetY);
    EXPECT_EQ(decoded.samples[1].area, samples[1].area);
    EXPECT_TRUE(decoded.samples[1].features.empty());

    // A text that is not UTF-8 is mended rather than written as invalid JSON.
    const auto mended = CalibrationFile::encode({}, "caf\xe9");
    EXPECT_EQ(payloadOf(CalibrationFile::decode(mended)).layoutSignature, "caf\xef\xbf\xbd");
}

// Whatever a JSON document tree would have made of the members, the stream decoding must too.
TEST(CalibrationFile, RepeatedMembersCountWithTheirLastValueAndOthersAreSkipped) {
    const auto decoded = payloadOf(CalibrationFile::decode(R"({
        "samples": "not yet", "layoutSignature": 3,
        "extra": {"samples": [1], "deep": [[[{"layoutSignature": "no"}]]]},
        "samples": [{"features": [9], "features": [1, 2], "targetX": "x", "targetX": 4,
                     "targetY": 5, "area": 6, "note": {"area": "ignored"}}],
        "layoutSignature": "a|b"})"));
    ASSERT_EQ(decoded.samples.size(), 1u);
    EXPECT_EQ(decoded.samples[0].features, (std::vector<double>{1, 2}));
    EXPECT_EQ(decoded.samples[0].targetX, 4);
    EXPECT_EQ(decoded.layoutSignature, "a|b");

    EXPECT_EQ(problemOf(CalibrationFile::decode(
                  R"({"samples": [], "layoutSignature": "a", "layoutSignature": null})")),
              R"(no "layoutSignature" text)");
    EXPECT_EQ(problemOf(CalibrationFile::decode(R"({"samples": [{"features": [1],
        "targetX": 1, "targetY": 2, "area": 3, "targetY": [2]}], "layoutSignature": ""})")),
              "sample 0 is not valid");
    EXPECT_EQ(problemOf(CalibrationFile::decode(R"({"samples": [{"features": [1, [2]],
        "targetX": 1, "targetY": 2, "area": 3}], "layoutSignature": ""})")),
              "sample 0 is not valid");
    // A later sample list replaces an earlier, broken one.
    EXPECT_EQ(CalibrationFile::decode(R"({"samples": [7], "samples": [], "layoutSignature": ""})")
                  .index(),
              0u);
    // Validity of the whole text still comes first.
    EXPECT_EQ(problemOf(CalibrationFile::decode(R"({"samples": [7], "layoutSignature": ""} x)")),
              "not valid JSON");
    EXPECT_EQ(problemOf(CalibrationFile::decode(R"({"samples": [1e999], "layoutSignature": ""})")),
              "not valid JSON");
}

TEST(CalibrationFile, KeepsOnlyTheNewestSamplesButChecksAndCountsThemAll) {
    std::vector<CalibrationSample> samples;
    for (int i = 0; i < 1000; ++i) {
        samples.push_back({{1, 0.5}, static_cast<double>(i), 0, 0.04});
    }
    auto text = CalibrationFile::encode(samples, "");
    const auto kept = payloadOf(CalibrationFile::decode(text, 400));
    ASSERT_EQ(kept.samples.size(), 400u);
    EXPECT_EQ(kept.sampleCount, 1000u);
    EXPECT_EQ(kept.samples.front().targetX, 600);
    EXPECT_EQ(kept.samples.back().targetX, 999);

    text.replace(text.find(R"("targetX":10.0)"), 14, R"("targetX":true)");
    EXPECT_EQ(problemOf(CalibrationFile::decode(text, 400)), "sample 10 is not valid");
}

} // namespace
} // namespace orvane
