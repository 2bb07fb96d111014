#pragma once

#include "plinth/CalibrationSample.hpp"
#include "plinth/GazeModel.hpp"
#include "plinth/Geometry.hpp"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

// Everything learnt about where the user looks: the training samples, the model fitted to
// them, and the display arrangement they belong to. Samples and signature live in
// "calibration.json"; the model is refitted from the samples at every start and change.
// Main thread only.
class CalibrationStore {
public:
    static constexpr std::size_t sampleCap = 400;
    static constexpr const char* fileName = "calibration.json";
    // A full file is a few tens of kilobytes; anything past this is not ours to parse.
    static constexpr std::size_t fileSizeLimit = 4 * 1024 * 1024;
    // How many unusable files are kept aside; an older one goes when a new one comes.
    static constexpr int asideNameCount = 10;

    // The one store of the process, over the installed platform (created on first use).
    static CalibrationStore& shared();

    // Reads the file once. Prefer `shared()`; tests make their own. A file that is there but
    // cannot be used (unreadable, not a regular file, too large, not a valid payload) is
    // logged and moved aside to the first free name of "calibration.json.bad",
    // "calibration.json.bad.1" ... ".bad.9", so that no save replaces it; the store then
    // starts empty. When it cannot be moved, the store keeps to memory and never writes over
    // it. Of a longer sample list only the newest `sampleCap` are kept.
    CalibrationStore();

    // The signature of the displays connected now.
    static std::string currentLayoutSignature();
    // The signature of an arrangement given by its displays' native frames, in any order.
    static std::string signatureOf(const std::vector<plinth::Rect>& frames);

    // The whole training set for the current arrangement: replaces the samples, records the
    // current signature, refits, saves. Samples holding a non-finite number are left out.
    void replace(std::vector<plinth::CalibrationSample> samples);

    // One more sample (from a click): keeps the newest `sampleCap`, refits, saves. The stored
    // signature stays as it was. A sample holding a non-finite number is ignored.
    void append(plinth::CalibrationSample sample);

    // Forgets everything and deletes the file.
    void clear();

    const std::vector<plinth::CalibrationSample>& samples() const { return samples_; }
    const std::optional<plinth::GazeModel>& model() const { return model_; }
    const std::string& layoutSignature() const { return layoutSignature_; }

    // Where the file lives; nullopt when the store works in memory only: the platform has no
    // data directory, or an unusable file there could not be moved aside.
    const std::optional<std::filesystem::path>& fileLocation() const { return url_; }

private:
    void load();
    void setAside(const std::string& problem);
    void reencode();
    void refit();
    void save();

    std::optional<std::filesystem::path> url_;
    std::vector<plinth::CalibrationSample> samples_;
    // Each sample's text in the file, kept beside it so that a save encodes nothing again.
    std::vector<std::string> encoded_;
    std::optional<plinth::GazeModel> model_;
    std::string layoutSignature_;
};

} // namespace orvane
