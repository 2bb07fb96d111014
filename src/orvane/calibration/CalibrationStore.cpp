#include "orvane/calibration/CalibrationStore.hpp"

#include "orvane/calibration/CalibrationFile.hpp"
#include "orvane/platform/Platform.hpp"
#include "orvane/support/Log.hpp"
#include "plinth/Numeric.hpp"
#include "plinth/ScreenGeometry.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
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
    auto decoded = CalibrationFile::decode(file.content, sampleCap);
    if (const auto* problem = std::get_if<std::string>(&decoded)) {
        setAside(*problem);
        return;
    }
    auto& payload = std::get<CalibrationPayload>(decoded);
    if (payload.sampleCount > sampleCap) {
        Log::error("calibration file holds " + std::to_string(payload.sampleCount) +
                   " samples: kept the newest " + std::to_string(payload.samples.size()));
    }
    if (auto dropped = dropNonFinite(payload.samples)) {
        Log::error("calibration file: left out " + std::to_string(dropped) +
                   " samples holding a non-finite number");
    }
    samples_ = std::move(payload.samples);
    layoutSignature_ = std::move(payload.layoutSignature);
    reencode();
    refit();
}

void CalibrationStore::setAside(const std::string& problem) {
    // Keeps the user's calibration for a person (or a later version) to look at, instead of
    // letting the next save replace it. The newest few stay: ".bad" the latest, ".bad.9" the
    // oldest kept.
    if (const auto aside = moveAside(*platform().fileSystem, *url_, asideNameCount)) {
        Log::error("calibration file " + url_->string() + " cannot be used (" + problem +
                   "): moved aside to " + aside->string());
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
    // Files name their layout in the y-up space displays were once given in; read in that
    // form, a calibration made then still fits the same displays now.
    const auto screens = platform().displays->screens();
    std::vector<plinth::Rect> frames;
    for (const auto& display : screens) {
        frames.push_back(plinth::ScreenGeometry::flipVertically(display.frame, screens[0].frame));
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
    reencode();
    refit();
    save();
}

void CalibrationStore::append(plinth::CalibrationSample sample) {
    if (!isFinite(sample)) {
        // One bad reading must not block every later fit and save.
        Log::error("calibration sample ignored: it holds a non-finite number");
        return;
    }
    encoded_.emplace_back();
    CalibrationFile::appendSample(encoded_.back(), sample);
    samples_.push_back(std::move(sample));
    if (samples_.size() > sampleCap) {
        const auto excess = static_cast<std::ptrdiff_t>(samples_.size() - sampleCap);
        samples_.erase(samples_.begin(), samples_.begin() + excess);
        encoded_.erase(encoded_.begin(), encoded_.begin() + excess);
    }
    refit();
    save();
}

void CalibrationStore::clear() {
    samples_.clear();
    encoded_.clear();
    model_.reset();
    layoutSignature_.clear();
    if (url_) {
        platform().fileSystem->remove(*url_); // no file is as good as a removed one
    }
}

void CalibrationStore::reencode() {
    encoded_.assign(samples_.size(), std::string());
    for (std::size_t i = 0; i < samples_.size(); ++i) {
        CalibrationFile::appendSample(encoded_[i], samples_[i]);
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
    // Only the samples' texts are joined here: each was encoded once, when it came in.
    const auto payload = CalibrationFile::assemble(encoded_, layoutSignature_);
    if (!platform().fileSystem->writeAtomically(*url_, payload)) {
        Log::error("could not save the calibration to " + url_->string());
    }
}

} // namespace orvane
