// The decoding of "calibration.json" against the document-tree decoding it replaced: both must
// agree on every input, keeping only the newest samples must keep exactly those, and whatever
// decodes must encode to a text that decodes to the same payload.
#include "FuzzChecks.hpp"
#include "orvane/calibration/CalibrationFile.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <variant>

namespace {

using orvane::CalibrationPayload;
using Outcome = std::variant<CalibrationPayload, std::string>;

Outcome decodeAsTree(std::string_view text) {
    const auto json = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (json.is_discarded()) {
        return std::string("not valid JSON");
    }
    if (!json.is_object()) {
        return std::string("not a JSON object");
    }
    const auto samples = json.find("samples");
    if (samples == json.end() || !samples->is_array()) {
        return std::string("no \"samples\" array");
    }
    const auto signature = json.find("layoutSignature");
    if (signature == json.end() || !signature->is_string()) {
        return std::string("no \"layoutSignature\" text");
    }
    CalibrationPayload payload;
    for (const auto& element : *samples) {
        auto sample = plinth::decodeCalibrationSample(element);
        if (!sample) {
            return "sample " + std::to_string(payload.samples.size()) + " is not valid";
        }
        payload.samples.push_back(std::move(*sample));
    }
    payload.layoutSignature = signature->get<std::string>();
    payload.sampleCount = payload.samples.size();
    return payload;
}

using orvane::fuzz::require;

// Bit for bit: -0.0 must stay -0.0.
bool sameNumber(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool sameSample(const plinth::CalibrationSample& a, const plinth::CalibrationSample& b) {
    return a.features.size() == b.features.size() &&
           std::equal(a.features.begin(), a.features.end(), b.features.begin(), sameNumber) &&
           sameNumber(a.targetX, b.targetX) && sameNumber(a.targetY, b.targetY) &&
           sameNumber(a.area, b.area);
}

// `kept` holds the newest of `whole`'s samples.
bool holdsNewest(const CalibrationPayload& kept, const CalibrationPayload& whole) {
    const auto offset = whole.samples.size() - kept.samples.size();
    return kept.samples.size() <= whole.samples.size() &&
           std::equal(kept.samples.begin(), kept.samples.end(), whole.samples.begin() + offset,
                      sameSample) &&
           kept.layoutSignature == whole.layoutSignature && kept.sampleCount == whole.sampleCount;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto streamed = orvane::CalibrationFile::decode(text);
    const auto reference = decodeAsTree(text);
    require(streamed.index() == reference.index(), "decoders disagree on success");
    if (const auto* problem = std::get_if<std::string>(&streamed)) {
        require(*problem == std::get<std::string>(reference), "decoders give other problems");
        require(std::get<std::string>(orvane::CalibrationFile::decode(text, 2)) == *problem,
                "keeping fewer samples changes the problem");
        return 0;
    }
    const auto& payload = std::get<CalibrationPayload>(streamed);
    const auto& expected = std::get<CalibrationPayload>(reference);
    require(payload.samples.size() == expected.samples.size() && holdsNewest(payload, expected),
            "decoders give other payloads");

    const auto newest = orvane::CalibrationFile::decode(text, 2);
    const auto& kept = std::get<CalibrationPayload>(newest);
    require(kept.samples.size() == std::min<std::size_t>(2, payload.samples.size()) &&
                holdsNewest(kept, payload),
            "keeping the newest two keeps others");

    const auto encoded = orvane::CalibrationFile::encode(payload.samples, payload.layoutSignature);
    const auto again = orvane::CalibrationFile::decode(encoded);
    require(std::holds_alternative<CalibrationPayload>(again),
            "an encoded payload does not decode");
    const auto& reread = std::get<CalibrationPayload>(again);
    require(reread.samples.size() == payload.samples.size() && holdsNewest(reread, payload),
            "an encoded payload decodes to another");
    return 0;
}
