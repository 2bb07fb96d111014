// Includes dlib, so the build compiles this file with -O2 in every configuration.
#include "backends/linux/face/LandmarkPredictor.hpp"

#include <dlib/image_processing/shape_predictor.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <vector>

#include <sys/mman.h>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace orvane::linuxbackend {
namespace {

// Two coordinates a point.
constexpr int shapeSize = 2 * LandmarkPredictor::pointCount;

// Memory for the leaves in pages of 2 MB where the system has them: each frame reads a few
// thousand leaves scattered over tens of megabytes, and with small pages nearly every one of
// them also misses the address translation cache.
template <typename T> struct LargePageAllocator {
    using value_type = T;

    LargePageAllocator() = default;
    template <typename U> LargePageAllocator(const LargePageAllocator<U>&) noexcept {}

    static constexpr std::size_t pageBytes = std::size_t{2} << 20;

    T* allocate(std::size_t count) {
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T) - pageBytes) {
            throw std::bad_alloc();
        }
        const std::size_t bytes = (count * sizeof(T) + pageBytes - 1) / pageBytes * pageBytes;
        void* memory = std::aligned_alloc(pageBytes, bytes);
        if (memory == nullptr) {
            throw std::bad_alloc();
        }
        // Only advice: without large pages the memory works all the same.
        ::madvise(memory, bytes, MADV_HUGEPAGE);
        return static_cast<T*>(memory);
    }

    void deallocate(T* memory, std::size_t) noexcept { std::free(memory); }

    template <typename U> bool operator==(const LargePageAllocator<U>&) const noexcept {
        return true;
    }
};

struct Split {
    std::uint32_t first; // the two feature pixels compared
    std::uint32_t second;
    float threshold;
};

} // namespace

struct LandmarkPredictor::Model {
    dlib::matrix<float, 0, 1> meanShape;
    std::vector<std::vector<unsigned long>> anchors;
    std::vector<std::vector<dlib::vector<float, 2>>> deltas;
    std::size_t treesPerCascade = 0;
    std::size_t splitsPerTree = 0;
    std::size_t leavesPerTree = 0;
    std::vector<Split> splits; // tree after tree, cascade after cascade
    // Each leaf as `shapeSize` 16-bit steps of its own scale, in the same order: half the
    // memory of floats (the model is most of our resident size, and colder caches cost time
    // at every frame), and a step is below a millionth of the face box.
    std::vector<std::int16_t, LargePageAllocator<std::int16_t>> leaves;
    std::vector<float> leafScales;
};

namespace {

// Why a model file is refused, in words for the user.
struct Refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// dlib's serialisation format, read with every count checked against what is left of the file
// before anything is allocated for it: a damaged or hostile file is refused, and never makes
// us ask for more memory than its own size. (dlib's own readers take any count at its word.)
class ModelReader {
public:
    // The smallest each item can take in the file: an integer is a length byte and at least
    // one byte; a number is two integers.
    static constexpr std::uint64_t integerBytes = 2;
    static constexpr std::uint64_t numberBytes = 2 * integerBytes;

    ModelReader(std::istream& in, std::uint64_t size) : in_(*in.rdbuf()), left_(size) {}

    std::uint64_t left() const { return left_; }

    std::uint64_t unsignedInteger() {
        // The three bits dlib reserves are ignored, as dlib does.
        const int size = byte() & 0x8F;
        if (size == 0 || size > 8) {
            throw Refused("a damaged number");
        }
        return packed(size);
    }

    // A signed integer of `bytes` bytes at most, built and negated in a type of that width as
    // dlib does, so that it wraps the same way.
    std::int64_t signedInteger(int bytes) {
        const int control = byte();
        const int size = control & 0x0F;
        if (size == 0 || size > bytes) {
            throw Refused("a damaged number");
        }
        std::uint64_t value = wrap(packed(size), bytes);
        if ((control & 0x80) != 0) {
            value = wrap(0 - value, bytes);
        }
        return static_cast<std::int64_t>(value);
    }

    // dlib's floating point: a mantissa and a power of two, turned into a float as dlib does.
    float number() {
        const int first = in_.sgetc();
        if (first == std::char_traits<char>::eof()) {
            throw Refused("a model cut short");
        }
        if ((first & 0x70) != 0) {
            throw Refused("numbers in dlib's old text format");
        }
        const std::int64_t mantissa = signedInteger(8);
        const auto exponent = static_cast<std::int16_t>(signedInteger(2));
        constexpr std::int16_t infinite = 32000;
        constexpr std::int16_t negativeInfinite = 32001;
        if (exponent < infinite) {
            return std::ldexp(static_cast<float>(mantissa), exponent);
        }
        if (exponent == infinite) {
            return std::numeric_limits<float>::infinity();
        }
        return exponent == negativeInfinite ? -std::numeric_limits<float>::infinity()
                                            : std::numeric_limits<float>::quiet_NaN();
    }

    // A count of items of at least `bytesEach` bytes each, at most `maximum` of them.
    std::size_t count(std::uint64_t maximum, std::uint64_t bytesEach, const char* what) {
        const std::uint64_t value = unsignedInteger();
        if (value > maximum) {
            throw Refused(std::string("too many ") + what);
        }
        if (value * bytesEach > left_) {
            throw Refused(std::string("more ") + what + " than the file holds");
        }
        return static_cast<std::size_t>(value);
    }

    // A column of `rows` numbers (dlib's matrix<float, 0, 1>), of which the file says the size.
    void column(long rows, float* into) {
        const std::int64_t declaredRows = signedInteger(8);
        const std::int64_t declaredColumns = signedInteger(8);
        // dlib's newer format writes the size negated.
        const std::int64_t sign = declaredRows < 0 || declaredColumns < 0 ? -1 : 1;
        if (declaredRows != sign * rows || declaredColumns != sign) {
            throw Refused("landmarks of the wrong number");
        }
        for (long i = 0; i < rows; ++i) {
            into[i] = number();
        }
    }

private:
    // `value` as a signed integer of `bytes` bytes, sign-extended.
    static std::uint64_t wrap(std::uint64_t value, int bytes) {
        if (bytes >= 8) {
            return value;
        }
        const std::uint64_t bits = 8 * static_cast<std::uint64_t>(bytes);
        value &= (std::uint64_t{1} << bits) - 1;
        return (value >> (bits - 1)) != 0 ? value | (~std::uint64_t{0} << bits) : value;
    }

    int byte() {
        const int value = in_.sbumpc();
        if (value == std::char_traits<char>::eof() || left_ == 0) {
            throw Refused("a model cut short");
        }
        --left_;
        return value;
    }

    // `size` little-endian bytes.
    std::uint64_t packed(int size) {
        unsigned char bytes[8];
        if (static_cast<std::uint64_t>(size) > left_ ||
            in_.sgetn(reinterpret_cast<char*>(bytes), size) != size) {
            throw Refused("a model cut short");
        }
        left_ -= static_cast<std::uint64_t>(size);
        std::uint64_t value = 0;
        for (int i = size - 1; i >= 0; --i) {
            value = value << 8 | bytes[i];
        }
        return value;
    }

    std::streambuf& in_;
    std::uint64_t left_;
};

// Far beyond any real model (15 cascades of 500 trees of 15 splits, 500 features): a damaged
// file is refused before it asks for absurd amounts of memory.
constexpr std::uint64_t maximumCascades = 1000;
constexpr std::uint64_t maximumTrees = 100000;
constexpr std::uint64_t maximumSplits = 1023;
constexpr std::uint64_t maximumFeatures = 100000;
// What a split and a leaf take in the file at the least.
constexpr std::uint64_t splitBytes = 2 * ModelReader::integerBytes + ModelReader::numberBytes;
constexpr std::uint64_t leafBytes =
    2 * ModelReader::integerBytes + shapeSize * ModelReader::numberBytes;

void appendQuantised(const float* leaf,
                     std::vector<std::int16_t, LargePageAllocator<std::int16_t>>& steps,
                     std::vector<float>& scales) {
    float largest = 0;
    for (int i = 0; i < shapeSize; ++i) {
        largest = std::max(largest, std::abs(leaf[i]));
    }
    const float scale = largest > 0 ? largest / 32767.0f : 0.0f;
    scales.push_back(scale);
    for (int i = 0; i < shapeSize; ++i) {
        steps.push_back(scale > 0 ? static_cast<std::int16_t>(std::lround(leaf[i] / scale))
                                  : std::int16_t{0});
    }
}

bool allFinite(const float* values, std::size_t count) {
    return std::all_of(values, values + count, [](float value) { return std::isfinite(value); });
}

// The model in the order dlib::shape_predictor writes it, straight into the dense copy: the
// version, the mean shape, the cascades of trees (each tree its splits, then its leaves), the
// landmark each cascade's features are anchored to, and their offsets.
void readModel(ModelReader& reader, LandmarkPredictor::Model& model,
               const std::atomic<bool>* stop) {
    const auto version = reader.signedInteger(4);
    if (version != 1) {
        throw Refused("unknown model version " + std::to_string(version));
    }
    model.meanShape.set_size(shapeSize);
    reader.column(shapeSize, &model.meanShape(0));
    if (!allFinite(&model.meanShape(0), shapeSize)) {
        throw Refused("a mean shape that is not numbers");
    }
    const std::size_t cascades =
        reader.count(maximumCascades, ModelReader::integerBytes, "cascades");
    if (cascades == 0) {
        throw Refused("a model of 0 cascades");
    }
    float leaf[shapeSize];
    for (std::size_t cascade = 0; cascade < cascades; ++cascade) {
        const std::size_t trees =
            reader.count(maximumTrees, 2 * ModelReader::integerBytes, "trees");
        if (trees == 0 || (cascade > 0 && trees != model.treesPerCascade)) {
            throw Refused("cascades of different sizes");
        }
        model.treesPerCascade = trees;
        for (std::size_t tree = 0; tree < trees; ++tree) {
            if (stop != nullptr && stop->load(std::memory_order_relaxed)) {
                throw Refused("stopped");
            }
            const std::size_t splits = reader.count(maximumSplits, splitBytes, "splits");
            if (cascade == 0 && tree == 0) {
                // Every tree as big as the first: the whole model must fit in what is left of
                // the file before its room is taken.
                model.splitsPerTree = splits;
                model.leavesPerTree = splits + 1;
                const std::uint64_t allTrees = std::uint64_t{cascades} * trees;
                if (allTrees * (splits * splitBytes + model.leavesPerTree * leafBytes) >
                    reader.left()) {
                    throw Refused("more trees than the file holds");
                }
                model.splits.reserve(allTrees * splits);
                model.leaves.reserve(allTrees * model.leavesPerTree * shapeSize);
                model.leafScales.reserve(allTrees * model.leavesPerTree);
            }
            if (splits != model.splitsPerTree) {
                throw Refused("trees of different sizes");
            }
            for (std::size_t i = 0; i < splits; ++i) {
                const std::uint64_t first = reader.unsignedInteger();
                const std::uint64_t second = reader.unsignedInteger();
                const float threshold = reader.number();
                if (first >= maximumFeatures || second >= maximumFeatures) {
                    throw Refused("a split on a feature that does not exist");
                }
                model.splits.push_back({static_cast<std::uint32_t>(first),
                                        static_cast<std::uint32_t>(second), threshold});
            }
            if (reader.count(maximumSplits + 1, leafBytes, "leaves") != model.leavesPerTree) {
                throw Refused("trees that are not complete");
            }
            for (std::size_t i = 0; i < model.leavesPerTree; ++i) {
                reader.column(shapeSize, leaf);
                if (!allFinite(leaf, shapeSize)) {
                    throw Refused("leaves that are not numbers");
                }
                appendQuantised(leaf, model.leaves, model.leafScales);
            }
        }
    }
    if (reader.count(maximumCascades, ModelReader::integerBytes, "cascades") != cascades) {
        throw Refused("an incomplete model");
    }
    model.anchors.resize(cascades);
    for (auto& anchors : model.anchors) {
        anchors.resize(reader.count(maximumFeatures, ModelReader::integerBytes, "features"));
        for (auto& anchor : anchors) {
            anchor = static_cast<unsigned long>(reader.unsignedInteger());
            if (anchor >= static_cast<unsigned long>(LandmarkPredictor::pointCount)) {
                throw Refused("a feature anchored to no landmark");
            }
        }
    }
    if (reader.count(maximumCascades, ModelReader::integerBytes, "cascades") != cascades) {
        throw Refused("an incomplete model");
    }
    model.deltas.resize(cascades);
    for (std::size_t cascade = 0; cascade < cascades; ++cascade) {
        auto& deltas = model.deltas[cascade];
        deltas.resize(reader.count(maximumFeatures, 2 * ModelReader::numberBytes, "features"));
        if (deltas.size() != model.anchors[cascade].size()) {
            throw Refused("features without offsets");
        }
        for (auto& delta : deltas) {
            delta.x() = reader.number();
            delta.y() = reader.number();
            if (!std::isfinite(delta.x()) || !std::isfinite(delta.y())) {
                throw Refused("feature offsets that are not numbers");
            }
        }
    }
    // Every comparison must read features its cascade has.
    const Split* split = model.splits.data();
    for (std::size_t cascade = 0; cascade < cascades; ++cascade) {
        const auto featureCount = model.anchors[cascade].size();
        const std::size_t splits = model.treesPerCascade * model.splitsPerTree;
        for (std::size_t i = 0; i < splits; ++i, ++split) {
            if (split->first >= featureCount || split->second >= featureCount) {
                throw Refused("a split on a feature that does not exist");
            }
        }
    }
}

// The mapping from the model's unit square to the box: (0, 0) to its top-left pixel, (1, 1)
// to its bottom-right one. dlib fits it to three corners by a pseudo-inverse (an SVD through
// LAPACK, 15 times a reading); the fit is exact, so it is written down instead.
struct BoxMapping {
    double left, top, width, height;

    explicit BoxMapping(const dlib::rectangle& rect)
        : left(static_cast<double>(rect.left())), top(static_cast<double>(rect.top())),
          width(static_cast<double>(rect.right() - rect.left())),
          height(static_cast<double>(rect.bottom() - rect.top())) {}

    double x(double u) const { return width * u + left; }
    double y(double v) const { return height * v + top; }
};

// The rotation and scale that best take the mean shape onto `shape` (least squares, no
// reflection), as dlib's find_similarity_transform works it out by an SVD of the 2 x 2
// covariance; in two dimensions its result has this closed form.
struct Similarity {
    float a, b; // the matrix [a -b; b a]
};

Similarity similarity(const float* from, const float* to, int points) {
    double fromX = 0, fromY = 0, toX = 0, toY = 0;
    for (int i = 0; i < points; ++i) {
        fromX += from[2 * i];
        fromY += from[2 * i + 1];
        toX += to[2 * i];
        toY += to[2 * i + 1];
    }
    fromX /= points;
    fromY /= points;
    toX /= points;
    toY /= points;
    double spread = 0, dot = 0, cross = 0;
    for (int i = 0; i < points; ++i) {
        const double fx = from[2 * i] - fromX, fy = from[2 * i + 1] - fromY;
        const double tx = to[2 * i] - toX, ty = to[2 * i + 1] - toY;
        spread += fx * fx + fy * fy;
        dot += tx * fx + ty * fy;
        cross += ty * fx - tx * fy;
    }
    if (spread == 0) {
        return {1, 0}; // all points at one place: dlib keeps the scale and turns nothing
    }
    return {static_cast<float>(dot / spread), static_cast<float>(cross / spread)};
}

// dlib's extract_feature_pixel_values: each feature is the pixel at an offset from its
// anchor landmark, the offset turned and scaled as the shape is against the mean shape, or 0
// outside the image.
template <bool mirrored>
void featurePixels(const cv::Mat& gray, const BoxMapping& toImage, const float* shape,
                   const float* meanShape, const std::vector<unsigned long>& anchors,
                   const std::vector<dlib::vector<float, 2>>& deltas,
                   std::vector<float>& features) {
    const auto [a, b] = similarity(meanShape, shape, LandmarkPredictor::pointCount);
    features.resize(deltas.size());
    for (std::size_t i = 0; i < deltas.size(); ++i) {
        const float* anchor = shape + 2 * anchors[i];
        const float u = (a * deltas[i].x() + -b * deltas[i].y()) + anchor[0];
        const float v = (b * deltas[i].x() + a * deltas[i].y()) + anchor[1];
        // Rounded as dlib turns a point of doubles into one of whole pixels.
        const double x = std::floor(toImage.x(u) + 0.5);
        const double y = std::floor(toImage.y(v) + 0.5);
        if (x >= 0 && y >= 0 && x < gray.cols && y < gray.rows) {
            const int column = mirrored ? gray.cols - 1 - static_cast<int>(x) : static_cast<int>(x);
            features[i] = gray.at<std::uint8_t>(static_cast<int>(y), column);
        } else {
            features[i] = 0.0f;
        }
    }
}

struct ChosenLeaf {
    const std::int16_t* steps;
    float scale;
};

// Adds up the leaves each tree of a cascade chose: most of a reading's arithmetic. Each
// coordinate is added up leaf after leaf in the same order whichever way is taken, with no
// fused multiply and add, so the answers are the same to the bit.
void addLeavesPortably(float* sum, const ChosenLeaf* chosen, std::size_t count) {
    for (std::size_t leaf = 0; leaf < count; ++leaf) {
        const std::int16_t* steps = chosen[leaf].steps;
        const float scale = chosen[leaf].scale;
        for (int i = 0; i < shapeSize; ++i) {
            sum[i] += scale * static_cast<float>(steps[i]);
        }
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// Coordinates `first` to `first + 8 * Lanes` of every leaf, eight at a time, their sums held in
// registers from the first leaf to the last rather than stored and loaded again at each.
template <int First, int Lanes>
__attribute__((target("avx2"))) inline void addLeavesWide(float* sum, const ChosenLeaf* chosen,
                                                          std::size_t count) {
    __m256 total[Lanes];
    for (int lane = 0; lane < Lanes; ++lane) {
        total[lane] = _mm256_loadu_ps(sum + First + 8 * lane);
    }
    for (std::size_t leaf = 0; leaf < count; ++leaf) {
        const std::int16_t* steps = chosen[leaf].steps + First;
        const __m256 scale = _mm256_set1_ps(chosen[leaf].scale);
        for (int lane = 0; lane < Lanes; ++lane) {
            const __m128i eight =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(steps + 8 * lane));
            const __m256 step = _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(eight));
            total[lane] = _mm256_add_ps(total[lane], _mm256_mul_ps(scale, step));
        }
    }
    for (int lane = 0; lane < Lanes; ++lane) {
        _mm256_storeu_ps(sum + First + 8 * lane, total[lane]);
    }
}

// In two passes of 9 and 8 registers: all 17 would not fit in the 16 the processor has.
static_assert(shapeSize == 8 * (9 + 8));
__attribute__((target("avx2"))) void addLeavesAvx2(float* sum, const ChosenLeaf* chosen,
                                                   std::size_t count) {
    addLeavesWide<0, 9>(sum, chosen, count);
    addLeavesWide<72, 8>(sum, chosen, count);
}

void addLeaves(float* sum, const ChosenLeaf* chosen, std::size_t count) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) {
        addLeavesAvx2(sum, chosen, count);
    } else {
        addLeavesPortably(sum, chosen, count);
    }
}
#else
void addLeaves(float* sum, const ChosenLeaf* chosen, std::size_t count) {
    addLeavesPortably(sum, chosen, count);
}
#endif

} // namespace

LandmarkPredictor::LandmarkPredictor() = default;
LandmarkPredictor::~LandmarkPredictor() = default;
LandmarkPredictor::LandmarkPredictor(LandmarkPredictor&&) noexcept = default;
LandmarkPredictor& LandmarkPredictor::operator=(LandmarkPredictor&&) noexcept = default;

bool LandmarkPredictor::loaded() const {
    return model_ != nullptr;
}

std::optional<std::string> LandmarkPredictor::load(const std::string& path,
                                                   const std::atomic<bool>* stop) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        return std::string("it is a folder");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::string("cannot open it");
    }
    return load(in, stop);
}

std::optional<std::string> LandmarkPredictor::load(std::istream& in,
                                                   const std::atomic<bool>* stop) {
    // What is left of the stream bounds every count in it.
    const auto start = in.tellg();
    in.seekg(0, std::ios::end);
    const auto end = in.tellg();
    in.seekg(start);
    if (!in || start < 0 || end < start) {
        return std::string("cannot tell its size");
    }
    auto model = std::make_unique<Model>();
    try {
        ModelReader reader(in, static_cast<std::uint64_t>(end - start));
        readModel(reader, *model, stop);
    } catch (const Refused& refused) {
        return std::string(refused.what());
    } catch (const std::bad_alloc&) {
        return std::string("too large to hold in memory");
    }
    model_ = std::move(model);
    return std::nullopt;
}

LandmarkPredictor::Points LandmarkPredictor::predict(const cv::Mat& gray,
                                                     const cv::Rect& box) const {
    return read<false>(gray, box);
}

LandmarkPredictor::Points LandmarkPredictor::predictMirrored(const cv::Mat& gray,
                                                             const cv::Rect& box) const {
    return read<true>(gray, box);
}

template <bool mirrored>
LandmarkPredictor::Points LandmarkPredictor::read(const cv::Mat& gray, const cv::Rect& box) const {
    const Model& model = *model_;
    // An empty box would make the mapping from the model's unit square singular.
    const dlib::rectangle rect(box.x, box.y, box.x + std::max(box.width, 2) - 1,
                               box.y + std::max(box.height, 2) - 1);
    const BoxMapping toImage(rect);
    dlib::matrix<float, 0, 1> shape = model.meanShape;
    std::vector<float> features;
    std::vector<ChosenLeaf> chosen;
    chosen.reserve(model.treesPerCascade);
    const Split* split = model.splits.data();
    const std::int16_t* leaves = model.leaves.data();
    const float* scales = model.leafScales.data();
    const std::size_t leafBlock = model.leavesPerTree * shapeSize;
    for (std::size_t cascade = 0; cascade < model.anchors.size(); ++cascade) {
        featurePixels<mirrored>(gray, toImage, &shape(0), &model.meanShape(0),
                                model.anchors[cascade], model.deltas[cascade], features);
        // A local array the leaves cannot alias, of a fixed length: vectorised even at -O2.
        float sum[shapeSize];
        for (int i = 0; i < shapeSize; ++i) {
            sum[i] = shape(i);
        }
        // Walk every tree first and ask for its leaf early: the leaves are scattered over
        // tens of megabytes, and fetching them together rather than one by one halves the
        // time on a cold cache.
        chosen.clear();
        for (std::size_t tree = 0; tree < model.treesPerCascade; ++tree) {
            std::size_t node = 0;
            while (node < model.splitsPerTree) {
                const Split& test = split[node];
                node = features[test.first] - features[test.second] > test.threshold ? 2 * node + 1
                                                                                     : 2 * node + 2;
            }
            const std::size_t leaf = node - model.splitsPerTree;
            const std::int16_t* steps = leaves + leaf * shapeSize;
            for (int i = 0; i < shapeSize; i += 32) {
                __builtin_prefetch(steps + i);
            }
            chosen.push_back({steps, scales[leaf]});
            split += model.splitsPerTree;
            leaves += leafBlock;
            scales += model.leavesPerTree;
        }
        if (portable_) {
            addLeavesPortably(sum, chosen.data(), chosen.size());
        } else {
            addLeaves(sum, chosen.data(), chosen.size());
        }
        for (int i = 0; i < shapeSize; ++i) {
            shape(i) = sum[i];
        }
    }
    Points points;
    for (int i = 0; i < pointCount; ++i) {
        points[i] = cv::Point2d(toImage.x(shape(2 * i)), toImage.y(shape(2 * i + 1)));
    }
    return points;
}

} // namespace orvane::linuxbackend
