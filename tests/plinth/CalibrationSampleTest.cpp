#include "plinth/CalibrationSample.hpp"
#include "plinth/HeadPose.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace plinth {
namespace {

TEST(HeadPoseFeatures, AreBiasYawPitchAndCentreInThatOrder) {
    const HeadPose pose{0.25, -0.125, 0.3, 0.5, 0.4, 0.1, 12.0};
    EXPECT_EQ(pose.features(), (std::vector<double>{1.0, 0.25, -0.125, 0.5, 0.4}));
    EXPECT_EQ(pose.features().size(), static_cast<std::size_t>(HeadPose::featureCount));
}

TEST(HeadPoseFeatures, IgnoreRollAreaAndTimestamp) {
    const HeadPose base{0.0, 0.0, 0.0, 0.5, 0.4, 0.1, 0.0};
    EXPECT_EQ(base.features(), (std::vector<double>{1.0, 0.0, 0.0, 0.5, 0.4}));

    HeadPose other = base;
    other.roll = 0.7;
    other.area = 0.5;
    other.timestamp = 1e9;
    EXPECT_EQ(other.features(), base.features());
}

CalibrationSample sampleLeftOfPrimary() {
    return {{1.0, -0.31, 0.07, 0.62, 0.41}, -1280.5, -200.25, 0.083};
}

nlohmann::json validJson() {
    return nlohmann::json::parse(
        R"({"features":[1.0,0.1,-0.2,0.5,0.4],"targetX":640,"targetY":-12.5,"area":0.05})");
}

TEST(CalibrationSampleJson, EncodesExactlyTheFourKeysInTheirOrder) {
    const auto json = encode(sampleLeftOfPrimary());
    ASSERT_TRUE(json.is_object());
    std::vector<std::string> keys;
    for (const auto& [key, value] : json.items()) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"features", "targetX", "targetY", "area"}));
    EXPECT_EQ(json.dump(),
              R"({"features":[1.0,-0.31,0.07,0.62,0.41],"targetX":-1280.5,"targetY":-200.25,)"
              R"("area":0.083})");
}

TEST(CalibrationSampleJson, RoundTripsNegativeTargetsThroughText) {
    const auto original = sampleLeftOfPrimary();
    const auto decoded = decodeCalibrationSample(nlohmann::json::parse(encode(original).dump()));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->features, original.features);
    EXPECT_EQ(decoded->targetX, original.targetX);
    EXPECT_EQ(decoded->targetY, original.targetY);
    EXPECT_EQ(decoded->area, original.area);
}

TEST(CalibrationSampleJson, AcceptsIntegersExtraKeysAndAnyFeatureLength) {
    auto json = validJson();
    json["comment"] = "written by an older version";
    json["features"] = {1, 2, 3};
    const auto decoded = decodeCalibrationSample(json);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->features, (std::vector<double>{1.0, 2.0, 3.0}));
    EXPECT_EQ(decoded->targetX, 640.0);
    EXPECT_EQ(decoded->targetY, -12.5);

    json["features"] = nlohmann::json::array();
    ASSERT_TRUE(decodeCalibrationSample(json));
    EXPECT_TRUE(decodeCalibrationSample(json)->features.empty());
}

TEST(CalibrationSampleJson, RefusesAMissingKey) {
    for (const char* key : {"features", "targetX", "targetY", "area"}) {
        auto json = validJson();
        json.erase(key);
        EXPECT_FALSE(decodeCalibrationSample(json)) << key;
    }
}

TEST(CalibrationSampleJson, RefusesWrongTypes) {
    const std::vector<std::pair<std::string, nlohmann::json>> wrong{
        {"features", 1.0},
        {"features", {1.0, "0.1", 0.5}},
        {"features", {1.0, nullptr, 0.5}},
        {"features", {{"yaw", 0.1}}},
        {"targetX", "640"},
        {"targetY", nullptr},
        {"area", true},
        {"area", nlohmann::json::array({0.05})},
    };
    for (const auto& [key, value] : wrong) {
        auto json = validJson();
        json[key] = value;
        EXPECT_FALSE(decodeCalibrationSample(json)) << key << " = " << value.dump();
    }
    EXPECT_FALSE(decodeCalibrationSample(nlohmann::json::array()));
    EXPECT_FALSE(decodeCalibrationSample(nlohmann::json()));
    EXPECT_FALSE(decodeCalibrationSample(nlohmann::json("features")));
}

// JSON has no NaN: the value is written as null and refused on reading, so a non-finite
// sample must be kept out of anything that gets written.
TEST(CalibrationSampleJson, NonFiniteValuesDoNotSurviveARoundTrip) {
    auto sample = sampleLeftOfPrimary();
    sample.targetX = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(decodeCalibrationSample(nlohmann::json::parse(encode(sample).dump())));
}

} // namespace
} // namespace plinth
