// dlib's feature pyramid and HOG template code run 45 times slower unoptimised: the build
// compiles this file with -O3 in every configuration.
#include "backends/linux/face/HogFaceScanner.hpp"

#include <dlib/opencv/cv_image.h>

#include <algorithm>
#include <stdexcept>

namespace orvane::linuxbackend {
namespace {

// Filtering is the larger part of a search's arithmetic. Built twice on x86-64, for the
// baseline and for AVX2 with FMA, and chosen at the first search by the processor: nothing
// built for AVX2 here is shared with another file, so none can leak into a caller on an older
// processor. Chosen by a plain check rather than an ifunc, whose resolver runs before the
// sanitizers' runtime is ready.
#if defined(__x86_64__) && !defined(__clang__)
#define ORVANE_WIDE_VECTORS 1
#endif
#define ORVANE_ALWAYS_INLINE inline __attribute__((always_inline))

using Lanes = float __attribute__((vector_size(32)));
constexpr int laneCount = 8;

// By reference: a vector passed by value would take a different calling convention in the
// AVX2 build.
ORVANE_ALWAYS_INLINE void load(Lanes& lanes, const float* from) {
    __builtin_memcpy(&lanes, from, sizeof lanes);
}

ORVANE_ALWAYS_INLINE void store(float* to, const Lanes& lanes) {
    __builtin_memcpy(to, &lanes, sizeof lanes);
}

struct PlaneFilters {
    const float* rows;    // taps of each filter's row part, one after another
    const float* columns; // and of its column part
    const unsigned long* detectors;
    std::size_t count;
};

// The frontal face detector's filters are 10 x 10 cells; a constant lets the compiler keep
// every tap in a register.
constexpr long taps = 10;

// Adds every filter of every plane, correlated with that plane, to its detector's saliency
// image. The planes are `rows` rows of `stride` floats, zero beyond their columns; the
// saliency images and `scratch` have rows of `outStride` floats, a whole number of vectors,
// and `stride` is at least `outStride` + taps - 1, so that no vector reads out of bounds.
ORVANE_ALWAYS_INLINE void filterPlanesBody(const float* planes, std::size_t planeStride,
                                           const PlaneFilters* filters, std::size_t planeCount,
                                           long rows, long stride, long outStride, float* scratch,
                                           float* const* saliency) {
    const long outRows = rows - taps + 1;
    for (std::size_t plane = 0; plane < planeCount; ++plane) {
        const float* in = planes + plane * planeStride;
        const auto& bank = filters[plane];
        for (std::size_t f = 0; f < bank.count; ++f) {
            Lanes tap[taps];
            for (long n = 0; n < taps; ++n) {
                tap[n] = Lanes{} + bank.rows[f * taps + n];
            }
            for (long r = 0; r < rows; ++r) {
                const float* from = in + r * stride;
                float* to = scratch + r * outStride;
                for (long c = 0; c < outStride; c += laneCount) {
                    Lanes sum{}, value;
                    for (long n = 0; n < taps; ++n) {
                        load(value, from + c + n);
                        sum += value * tap[n];
                    }
                    store(to + c, sum);
                }
            }
            for (long m = 0; m < taps; ++m) {
                tap[m] = Lanes{} + bank.columns[f * taps + m];
            }
            float* out = saliency[bank.detectors[f]];
            for (long r = 0; r < outRows; ++r) {
                const float* from = scratch + r * outStride;
                float* to = out + r * outStride;
                for (long c = 0; c < outStride; c += laneCount) {
                    Lanes sum{}, value;
                    for (long m = 0; m < taps; ++m) {
                        load(value, from + m * outStride + c);
                        sum += value * tap[m];
                    }
                    load(value, to + c);
                    store(to + c, value + sum);
                }
            }
        }
    }
}

using FilterPlanes = void (*)(const float*, std::size_t, const PlaneFilters*, std::size_t, long,
                              long, long, float*, float* const*);

void filterPlanesBaseline(const float* planes, std::size_t planeStride, const PlaneFilters* filters,
                          std::size_t planeCount, long rows, long stride, long outStride,
                          float* scratch, float* const* saliency) {
    filterPlanesBody(planes, planeStride, filters, planeCount, rows, stride, outStride, scratch,
                     saliency);
}

#ifdef ORVANE_WIDE_VECTORS
__attribute__((target("avx2,fma"))) void
filterPlanesWide(const float* planes, std::size_t planeStride, const PlaneFilters* filters,
                 std::size_t planeCount, long rows, long stride, long outStride, float* scratch,
                 float* const* saliency) {
    filterPlanesBody(planes, planeStride, filters, planeCount, rows, stride, outStride, scratch,
                     saliency);
}
#endif

FilterPlanes chooseFilterPlanes() {
#ifdef ORVANE_WIDE_VECTORS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
        return filterPlanesWide;
    }
#endif
    return filterPlanesBaseline;
}

void filterPlanes(const float* planes, std::size_t planeStride, const PlaneFilters* filters,
                  std::size_t planeCount, long rows, long stride, long outStride, float* scratch,
                  float* const* saliency) {
    static const FilterPlanes chosen = chooseFilterPlanes();
    chosen(planes, planeStride, filters, planeCount, rows, stride, outStride, scratch, saliency);
}

} // namespace

HogFaceScanner::HogFaceScanner(const dlib::frontal_face_detector& detector) {
    const auto& scanner = detector.get_scanner();
    cellSize_ = static_cast<long>(scanner.get_cell_size());
    minimumLayerWidth_ = scanner.get_min_pyramid_layer_width();
    minimumLayerHeight_ = scanner.get_min_pyramid_layer_height();
    maximumLevels_ = scanner.get_max_pyramid_levels();
    overlapTester_ = detector.get_overlap_tester();
    padding_ = static_cast<long>(scanner.get_padding());
    // dlib's own split of each filter into separable parts, as its scanner uses them.
    for (unsigned long d = 0; d < detector.num_detectors(); ++d) {
        const auto bank = scanner.build_fhog_filterbank(detector.get_w(d));
        thresholds_.push_back(detector.get_w(d)(scanner.get_num_dimensions()));
        planes_.resize(bank.row_filters.size());
        for (std::size_t plane = 0; plane < bank.row_filters.size(); ++plane) {
            filterRows_ = bank.filters[plane].nr();
            filterColumns_ = bank.filters[plane].nc();
            for (std::size_t j = 0; j < bank.row_filters[plane].size(); ++j) {
                const auto& row = bank.row_filters[plane][j];
                const auto& column = bank.col_filters[plane][j];
                if (row.size() != filterColumns_ || column.size() != filterRows_) {
                    throw std::runtime_error("face detector filter of an unexpected size");
                }
                auto& parts = planes_[plane];
                parts.rows.insert(parts.rows.end(), row.begin(), row.end());
                parts.columns.insert(parts.columns.end(), column.begin(), column.end());
                parts.detectors.push_back(d);
            }
        }
    }
    if (planes_.size() != 31 || filterRows_ != taps || filterColumns_ != taps ||
        filterRows_ - 2 * padding_ <= 0) {
        throw std::runtime_error("face detector of an unexpected shape");
    }
    windowSide_ = (filterRows_ - 2 * padding_) * cellSize_;
}

std::vector<HogFaceScanner::Detection> HogFaceScanner::detect(const cv::Mat& image,
                                                              unsigned long firstLevel,
                                                              unsigned long levelLimit) const {
    std::vector<Detection> found;
    if (planes_.empty() || image.empty()) {
        return found;
    }
    if (image.type() != CV_8UC1) {
        throw std::invalid_argument("the face scanner takes 8-bit grey images");
    }
    // As many levels as dlib's scanner makes of this image, each 5/6 of the one before.
    dlib::pyramid_down<6> pyramid;
    unsigned long levels = 0;
    dlib::rectangle layer = dlib::get_rect(dlib::cv_image<unsigned char>(image));
    do {
        layer = pyramid.rect_down(layer);
        ++levels;
    } while (layer.width() >= minimumLayerWidth_ && layer.height() >= minimumLayerHeight_ &&
             levels < maximumLevels_);
    levels = std::min(levels, levelLimit);

    std::vector<PlaneFilters> banks;
    for (const auto& plane : planes_) {
        banks.push_back({plane.rows.data(), plane.columns.data(), plane.detectors.data(),
                         plane.detectors.size()});
    }

    // The window inside the filter's padding, in cells.
    const long boxRows = filterRows_ - 2 * padding_;
    const long boxColumns = filterColumns_ - 2 * padding_;
    std::vector<std::pair<double, std::pair<unsigned long, dlib::rectangle>>> candidates;
    auto& [shrink, finer, coarser, features, planes, scratch, saliency] = workspace_;
    saliency.resize(thresholds_.size());
    if (!shrink) {
        shrink = std::make_unique<PyramidDown>(6);
    }
    if (!features) {
        features = std::make_unique<HogFeatures>(static_cast<int>(cellSize_),
                                                 static_cast<int>(filterRows_),
                                                 static_cast<int>(filterColumns_));
    }
    for (unsigned long level = 0; level < levels; ++level) {
        if (level == 1) {
            shrink->shrink(image.ptr<unsigned char>(), image.rows, image.cols, image.step[0],
                           coarser.pixels);
            coarser.size = shrink->sizeFor(image.rows, image.cols);
        } else if (level > 1) {
            shrink->shrink(finer.pixels.data(), finer.size.rows, finer.size.columns,
                           static_cast<std::size_t>(finer.size.columns), coarser.pixels);
            coarser.size = shrink->sizeFor(finer.size.rows, finer.size.columns);
        }
        if (level > 0) {
            std::swap(finer, coarser);
        }
        if (level < firstLevel) {
            continue;
        }
        const unsigned char* pixels = level == 0 ? image.ptr<unsigned char>() : finer.pixels.data();
        const long pixelRows = level == 0 ? image.rows : finer.size.rows;
        const long pixelColumns = level == 0 ? image.cols : finer.size.columns;
        const std::size_t step =
            level == 0 ? image.step[0] : static_cast<std::size_t>(finer.size.columns);
        if (pixelRows == 0 || pixelColumns == 0) {
            continue;
        }
        const auto size = features->sizeFor(pixelRows, pixelColumns);
        const long rows = size.rows;
        const long columns = size.columns;
        if (rows < taps || columns < taps) {
            continue;
        }
        const long outRows = rows - taps + 1;
        const long outColumns = columns - taps + 1;
        const long outStride = (outColumns + laneCount - 1) / laneCount * laneCount;
        const long stride = outStride + taps - 1;
        const auto planeStride = static_cast<std::size_t>(rows * stride);
        planes.resize(planeStride * HogFeatures::planeCount);
        if (featureWriter_) {
            featureWriter_(pixels, pixelRows, pixelColumns, step, planes.data(), planeStride,
                           stride);
        } else {
            features->extract(pixels, pixelRows, pixelColumns, step, planes.data(), planeStride,
                              stride);
        }
        scratch.resize(static_cast<std::size_t>(rows * outStride));
        std::vector<float*> outputs;
        for (auto& image : saliency) {
            image.assign(static_cast<std::size_t>(outRows * outStride), 0.0f);
            outputs.push_back(image.data());
        }
        filterPlanes(planes.data(), planeStride, banks.data(), banks.size(), rows, stride,
                     outStride, scratch.data(), outputs.data());

        // Where dlib's filtering puts its first full window.
        const long top = filterRows_ / 2;
        const long left = filterColumns_ / 2;
        for (std::size_t d = 0; d < saliency.size(); ++d) {
            for (long r = 0; r < outRows; ++r) {
                for (long c = 0; c < outColumns; ++c) {
                    const float score = saliency[d][static_cast<std::size_t>(r * outStride + c)];
                    if (score >= thresholds_[d]) {
                        dlib::rectangle rect =
                            dlib::fhog_to_image(dlib::centered_rect(dlib::point(c + left, r + top),
                                                                    boxColumns, boxRows),
                                                cellSize_, filterRows_, filterColumns_);
                        rect = pyramid.rect_up(rect, level);
                        candidates.push_back({score - thresholds_[d], {d, rect}});
                    }
                }
            }
        }
    }

    // Best first; a detection overlapping one already kept is the same face.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [confidence, detection] : candidates) {
        const auto& rect = detection.second;
        const bool seen = std::any_of(found.begin(), found.end(), [&](const Detection& kept) {
            return overlapTester_(kept.rect, rect);
        });
        if (!seen) {
            found.push_back({rect, confidence});
        }
    }
    return found;
}

} // namespace orvane::linuxbackend
