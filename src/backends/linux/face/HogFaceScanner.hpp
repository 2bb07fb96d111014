#pragma once

#include "backends/linux/face/HogFeatures.hpp"
#include "backends/linux/face/PyramidDown.hpp"

#include <dlib/image_processing/frontal_face_detector.h>

#include <opencv2/core.hpp>

#include <memory>
#include <vector>

namespace orvane::linuxbackend {

// dlib's HOG face detector, all its filters, over the same feature pyramid and with the same
// thresholds and overlap rule, so that it finds the faces dlib finds. Two things differ:
// the filters of all detectors run together, plane by plane, in code that uses AVX2 and FMA
// where the processor has them (chosen at run time); and a search may leave out the finest
// pyramid levels, whose windows only fit faces smaller than the caller cares about.
class HogFaceScanner {
public:
    struct Detection {
        dlib::rectangle rect; // in the scanned image
        double confidence = 0;
    };

    HogFaceScanner() = default;
    // Takes the filters, thresholds and pyramid limits of `detector`; throws what dlib throws
    // for an unusable one.
    explicit HogFaceScanner(const dlib::frontal_face_detector& detector);

    // Faces in `image` (8-bit gray) seen at pyramid levels `firstLevel` up to, not including,
    // `levelLimit`; best first, none overlapping another. Level 0 is the image itself and each
    // level is 5/6 of the one before, down to the detector's smallest layer.
    // Keeps its buffers for the next call: not for two threads at once.
    std::vector<Detection> detect(const cv::Mat& image, unsigned long firstLevel = 0,
                                  unsigned long levelLimit = ~0UL) const;

    // The side of the detection window at level 0, in pixels.
    long windowSide() const { return windowSide_; }

    // Writes one level's features, sized as HogFeatures::sizeFor gives them, into the planes
    // the filters read (see HogFeatures::extract). Only for measuring against another
    // extractor; HogFeatures writes them otherwise.
    using FeatureWriter = void (*)(const unsigned char* image, long rows, long columns,
                                   std::size_t step, float* planes, std::size_t planeStride,
                                   long stride);
    void setFeatureWriter(FeatureWriter writer) { featureWriter_ = writer; }

private:
    // Every detector's separable filter parts for one feature plane, taps one after another.
    struct PlaneBank {
        std::vector<float> rows, columns;
        std::vector<unsigned long> detectors;
    };
    std::vector<PlaneBank> planes_;
    std::vector<double> thresholds_;
    dlib::test_box_overlap overlapTester_;
    long cellSize_ = 8;
    long filterRows_ = 0, filterColumns_ = 0; // in cells
    long padding_ = 0;                        // cells of the filter around the window
    long windowSide_ = 80;
    unsigned long minimumLayerWidth_ = 64, minimumLayerHeight_ = 64;
    unsigned long maximumLevels_ = 1000;
    FeatureWriter featureWriter_ = nullptr;

    // Kept from call to call: a search or a follower sees images of the same size each time.
    struct Workspace {
        Workspace() = default;
        // A copy starts with buffers of its own.
        Workspace(const Workspace&) {}
        Workspace& operator=(const Workspace&) { return *this; }

        struct Level {
            std::vector<unsigned char> pixels;
            PyramidDown::Size size;
        };
        std::unique_ptr<PyramidDown> shrink;
        Level finer, coarser;
        std::unique_ptr<HogFeatures> features;
        std::vector<float> planes, scratch;
        std::vector<std::vector<float>> saliency;
    };
    mutable Workspace workspace_;
};

} // namespace orvane::linuxbackend
