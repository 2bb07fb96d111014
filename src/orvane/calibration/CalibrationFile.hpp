#pragma once

#include "plinth/CalibrationSample.hpp"

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace orvane {

// What "calibration.json" holds.
struct CalibrationPayload {
    std::vector<plinth::CalibrationSample> samples;
    std::string layoutSignature;
    // How many samples the file held; more than `samples` when decoding kept only the newest.
    std::size_t sampleCount = 0;
};

// The text of "calibration.json": {"samples":[...],"layoutSignature":"..."}. Decoding reads
// the text as a stream of JSON events, never as a document tree, so that neither the depth
// of the nesting nor the number of samples costs memory beyond the samples kept.
namespace CalibrationFile {

// The payload, or why the text is not one. Members may come in any order, a repeated member
// counts with its last value, other members are ignored. Of a longer sample list only the
// newest `keepNewest` are returned (all of them are checked). Never throws.
std::variant<CalibrationPayload, std::string>
decode(std::string_view text, std::size_t keepNewest = std::numeric_limits<std::size_t>::max());

// Appends one sample as {"features":[...],"targetX":...,"targetY":...,"area":...}. Numbers
// are written in the fewest digits that read back to the same double; whole numbers keep a
// ".0". A non-finite number, which JSON cannot hold, is written as null.
void appendSample(std::string& out, const plinth::CalibrationSample& sample);

// The whole text from samples already encoded by appendSample, in order.
std::string assemble(const std::vector<std::string>& encodedSamples,
                     const std::string& layoutSignature);

// The whole text of a payload.
std::string encode(const std::vector<plinth::CalibrationSample>& samples,
                   const std::string& layoutSignature);

} // namespace CalibrationFile
} // namespace orvane
