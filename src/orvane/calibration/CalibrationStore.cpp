#include "orvane/calibration/CalibrationStore.hpp"

#include "orvane/platform/Platform.hpp"
#include "orvane/support/Log.hpp"
#include "plinth/Numeric.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <variant>

namespace orvane {
namespace {

bool isFinite(const plinth::CalibrationSample& sample) {
    return std::isfinite(sample.targetX) && std::isfinite(sample.targetY) &&
           std::isfinite(sample.area) &&
           std::all_of(sample.features.begin(), sample.features.end(),
                       [](double value) { return std::isfinite(value); });
}

std::size_t dropNonFinite(std::vector<plinth::CalibrationSample>& samples) {
    const auto before = samples.size();
    std::erase_if(samples, [](const auto& sample) { return !isFinite(sample); });
    return before - samples.size();
}

} // namespace

CalibrationStore& CalibrationStore::shared() {
    static std::unique_ptr<CalibrationStore> instance;
    static std::uint64_t builtFor = 0;
    if (!instance || builtFor != platformGeneration()) {
        builtFor = platformGeneration();
        instance = std::make_unique<CalibrationStore>();
    }
    return *instance;
}

CalibrationStore::CalibrationStore() {
    auto& fileSystem = *platform().fileSystem;
    if (auto support = fileSystem.applicationSupportDirectory()) {
        const auto directory = *support / "Orvane";
        fileSystem.createDirectories(directory); // a failure shows at the first save
        url_ = directory / fileName;
        if (const auto removed = fileSystem.removeLeftoverTemporaries(*url_)) {
            Log::info("removed " + std::to_string(removed) +
                      (removed == 1 ? " temporary file" : " temporary files") +
                      " left by an interrupted calibration save");
        }
        load();
    } else {
        Log::error("no application data directory (neither XDG_DATA_HOME nor HOME is set): "
                   "calibration is kept in memory only");
    }
}

namespace {

struct Payload {
    std::vector<plinth::CalibrationSample> samples;
    std::string layoutSignature;
};

// The payload, or why the text is not one. Members may come in any order; others are ignored.
std::variant<Payload, std::string> decodePayload(const std::string& text) {
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
    Payload payload;
    payload.samples.reserve(samples->size());
    for (const auto& element : *samples) {
        auto sample = plinth::decodeCalibrationSample(element);
        if (!sample) {
            return "sample " + std::to_string(payload.samples.size()) + " is not valid";
        }
        payload.samples.push_back(std::move(*sample));
    }
    payload.layoutSignature = signature->get<std::string>();
    return payload;
}

} // namespace

void CalibrationStore::load() {
    auto file = platform().fileSystem->read(*url_, fileSizeLimit);
    switch (file.outcome) {
    case FileRead::Outcome::read:
        break;
    case FileRead::Outcome::missing:
        return;
    case FileRead::Outcome::directory:
        // Nothing can be saved over it either, and it is not ours to move.
        Log::error("calibration file " + url_->string() + " is a directory: not used");
        return;
    case FileRead::Outcome::notARegularFile:
    case FileRead::Outcome::tooLarge:
    case FileRead::Outcome::failed:
        setAside(file.problem);
        return;
    }
    auto decoded = decodePayload(file.content);
    if (const auto* problem = std::get_if<std::string>(&decoded)) {
        setAside(*problem);
        return;
    }
    auto& payload = std::get<Payload>(decoded);
    if (auto dropped = dropNonFinite(payload.samples)) {
        Log::error("calibration file: left out " + std::to_string(dropped) +
                   " samples holding a non-finite number");
    }
    if (payload.samples.size() > sampleCap) {
        Log::error("calibration file holds " + std::to_string(payload.samples.size()) +
                   " samples: kept the newest " + std::to_string(sampleCap));
        payload.samples.erase(payload.samples.begin(),
                              payload.samples.end() - static_cast<std::ptrdiff_t>(sampleCap));
    }
    samples_ = std::move(payload.samples);
    layoutSignature_ = std::move(payload.layoutSignature);
    refit();
}

void CalibrationStore::setAside(const std::string& problem) {
    // Keeps the user's calibration for a person (or a later version) to look at, instead of
    // letting the next save replace it.
    auto aside = *url_;
    aside += ".bad";
    if (platform().fileSystem->rename(*url_, aside)) {
        Log::error("calibration file " + url_->string() + " cannot be used (" + problem +
                   "): moved aside to " + aside.string());
        return;
    }
    Log::error("calibration file " + url_->string() + " cannot be used (" + problem +
               ") nor moved aside: calibration is kept in memory only");
    url_.reset();
}

std::string CalibrationStore::signatureOf(const std::vector<plinth::Rect>& frames) {
    std::vector<std::string> entries;
    entries.reserve(frames.size());
    for (const auto& frame : frames) {
        entries.push_back(std::to_string(plinth::truncatedToInt64(frame.x)) + "," +
                          std::to_string(plinth::truncatedToInt64(frame.y)) + "," +
                          std::to_string(plinth::truncatedToInt64(frame.maxX() - frame.minX())) +
                          "x" +
                          std::to_string(plinth::truncatedToInt64(frame.maxY() - frame.minY())));
    }
    std::sort(entries.begin(), entries.end());
    std::string signature;
    for (const auto& entry : entries) {
        if (!signature.empty()) {
            signature.push_back('|');
        }
        signature.append(entry);
    }
    return signature;
}

std::string CalibrationStore::currentLayoutSignature() {
    std::vector<plinth::Rect> frames;
    for (const auto& display : platform().displays->screens()) {
        frames.push_back(display.frame);
    }
    return signatureOf(frames);
}

void CalibrationStore::replace(std::vector<plinth::CalibrationSample> samples) {
    if (auto dropped = dropNonFinite(samples)) {
        Log::error("calibration: left out " + std::to_string(dropped) +
                   " samples holding a non-finite number");
    }
    samples_ = std::move(samples);
    layoutSignature_ = currentLayoutSignature();
    refit();
    save();
}

void CalibrationStore::append(plinth::CalibrationSample sample) {
    if (!isFinite(sample)) {
        // One bad reading must not block every later fit and save.
        Log::error("calibration sample ignored: it holds a non-finite number");
        return;
    }
    samples_.push_back(std::move(sample));
    if (samples_.size() > sampleCap) {
        samples_.erase(samples_.begin(),
                       samples_.begin() + static_cast<std::ptrdiff_t>(samples_.size() - sampleCap));
    }
    refit();
    save();
}

void CalibrationStore::clear() {
    samples_.clear();
    model_.reset();
    layoutSignature_.clear();
    if (url_) {
        platform().fileSystem->remove(*url_); // no file is as good as a removed one
    }
}

void CalibrationStore::refit() {
    if (auto fitted = plinth::GazeModel::fit(samples_)) {
        model_ = std::move(fitted);
        Log::info("refit from " + std::to_string(model_->sampleCount) + " samples, mean error " +
                  std::to_string(plinth::truncatedToInt64(model_->meanError)) + "pt");
    } else {
        Log::error("calibration refit failed with " + std::to_string(samples_.size()) + " samples");
    }
}

void CalibrationStore::save() {
    if (!url_) {
        return;
    }
    // {"samples":[...],"layoutSignature":"..."}, members in that order. Each sample is
    // encoded on its own into one growing text: a document tree of every sample, built and
    // torn down on each click, would cost twice the time.
    std::string payload = R"({"samples":[)";
    payload.reserve(samples_.size() * 160 + layoutSignature_.size() + 64);
    for (std::size_t i = 0; i < samples_.size(); ++i) {
        if (i > 0) {
            payload.push_back(',');
        }
        payload += plinth::encode(samples_[i]).dump();
    }
    payload += R"(],"layoutSignature":)";
    // Replaces bytes that are not UTF-8 instead of throwing.
    payload += nlohmann::json(layoutSignature_)
                   .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    payload.push_back('}');
    if (!platform().fileSystem->writeAtomically(*url_, payload)) {
        Log::error("could not save the calibration to " + url_->string());
    }
}

} // namespace orvane
