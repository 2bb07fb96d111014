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
        load();
    } else {
        Log::error("no application data directory (neither XDG_DATA_HOME nor HOME is set): "
                   "calibration is kept in memory only");
    }
}

void CalibrationStore::load() {
    auto data = platform().fileSystem->read(*url_);
    if (!data) {
        return;
    }
    // Any fault leaves the store empty and the file as it is, for the next save to replace.
    const auto payload = nlohmann::json::parse(*data, nullptr, /*allow_exceptions=*/false);
    if (!payload.is_object()) {
        return;
    }
    const auto samples = payload.find("samples");
    const auto signature = payload.find("layoutSignature");
    if (samples == payload.end() || !samples->is_array() || signature == payload.end() ||
        !signature->is_string()) {
        return;
    }
    std::vector<plinth::CalibrationSample> decoded;
    decoded.reserve(samples->size());
    for (const auto& element : *samples) {
        auto sample = plinth::decodeCalibrationSample(element);
        if (!sample) {
            return;
        }
        decoded.push_back(std::move(*sample));
    }
    if (auto dropped = dropNonFinite(decoded)) {
        Log::error("calibration file: left out " + std::to_string(dropped) +
                   " samples holding a non-finite number");
    }
    samples_ = std::move(decoded);
    layoutSignature_ = signature->get<std::string>();
    refit();
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
    nlohmann::json samples = nlohmann::json::array();
    for (const auto& sample : samples_) {
        samples.push_back(plinth::encode(sample));
    }
    const nlohmann::json payload = {{"samples", std::move(samples)},
                                    {"layoutSignature", layoutSignature_}};
    if (!platform().fileSystem->writeAtomically(*url_, payload.dump())) {
        Log::error("could not save the calibration to " + url_->string());
    }
}

} // namespace orvane
