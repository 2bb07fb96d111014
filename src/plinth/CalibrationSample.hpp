#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <vector>

namespace plinth {

// One labelled training row: where the user looked (global top-left space, points) and the
// head's feature vector at that moment.
struct CalibrationSample {
    std::vector<double> features;
    double targetX = 0;
    double targetY = 0;
    double area = 0;
};

// The keyed object {"features", "targetX", "targetY", "area"}, members in that order.
nlohmann::ordered_json encode(const CalibrationSample& sample);

// Needs all four keys with the right types; other keys are ignored. Any length of "features"
// is accepted here (the model fit refuses wrong lengths). Never throws.
std::optional<CalibrationSample> decodeCalibrationSample(const nlohmann::json& json);

} // namespace plinth
