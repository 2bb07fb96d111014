#include "plinth/CalibrationSample.hpp"

namespace plinth {

nlohmann::ordered_json encode(const CalibrationSample& sample) {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["features"] = sample.features;
    json["targetX"] = sample.targetX;
    json["targetY"] = sample.targetY;
    json["area"] = sample.area;
    return json;
}

namespace {

std::optional<double> numberAt(const nlohmann::json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number()) {
        return std::nullopt;
    }
    return it->get<double>();
}

} // namespace

std::optional<CalibrationSample> decodeCalibrationSample(const nlohmann::json& json) {
    if (!json.is_object()) {
        return std::nullopt;
    }
    const auto features = json.find("features");
    if (features == json.end() || !features->is_array()) {
        return std::nullopt;
    }
    CalibrationSample sample;
    sample.features.reserve(features->size());
    for (const auto& value : *features) {
        if (!value.is_number()) {
            return std::nullopt;
        }
        sample.features.push_back(value.get<double>());
    }
    const auto targetX = numberAt(json, "targetX");
    const auto targetY = numberAt(json, "targetY");
    const auto area = numberAt(json, "area");
    if (!targetX || !targetY || !area) {
        return std::nullopt;
    }
    sample.targetX = *targetX;
    sample.targetY = *targetY;
    sample.area = *area;
    return sample;
}

} // namespace plinth
