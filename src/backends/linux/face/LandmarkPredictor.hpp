#pragma once

#include <opencv2/core.hpp>

#include <array>
#include <atomic>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

namespace orvane::linuxbackend {

// dlib's 68-point face landmark model (cascades of regression trees), read from its file and
// evaluated from a dense copy of its trees. The answers are dlib's shape_predictor's, before
// its rounding to whole pixels, in a fraction of the time (0.5 rather than 3 to 6 ms): each
// tree's leaf is fetched ahead of use, and the leaves are added up in vectors of a length
// known at compile time, which the compiler turns into SIMD additions without any
// machine-specific flags.
class LandmarkPredictor {
public:
    static constexpr int pointCount = 68;
    using Points = std::array<cv::Point2d, pointCount>;

    LandmarkPredictor();
    ~LandmarkPredictor();
    LandmarkPredictor(LandmarkPredictor&&) noexcept;
    LandmarkPredictor& operator=(LandmarkPredictor&&) noexcept;

    // Reads a model file. On failure: why, and the predictor stays as it was. Once `*stop` is
    // true (when given; any thread) the read gives up before its next tree, as a failure.
    std::optional<std::string> load(const std::string& path,
                                    const std::atomic<bool>* stop = nullptr);
    // The same from a stream that can tell its size (a file's or a string's).
    std::optional<std::string> load(std::istream& in, const std::atomic<bool>* stop = nullptr);
    bool loaded() const;

    // The landmarks of the face that a face detector found in `box` (in pixels of `gray`,
    // an 8-bit single-channel image). Requires `loaded()`.
    Points predict(const cv::Mat& gray, const cv::Rect& box) const;
    // The same in the mirror image of `gray` (left to right), read without making it.
    Points predictMirrored(const cv::Mat& gray, const cv::Rect& box) const;

    // Adds the leaves up without the processor's wider vectors (AVX2, taken where it has them):
    // the same answers to the bit, more slowly. For testing the one against the other.
    void setPortableArithmetic(bool portable) { portable_ = portable; }

    struct Model; // the trees, dense

private:
    template <bool mirrored> Points read(const cv::Mat& gray, const cv::Rect& box) const;

    std::unique_ptr<const Model> model_;
    bool portable_ = false;
};

} // namespace orvane::linuxbackend
