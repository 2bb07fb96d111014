// Includes dlib, so the build compiles this file with -O2 in every configuration.
#include "backends/linux/face/LandmarkPredictor.hpp"

#include <dlib/image_processing/shape_predictor.h>
#include <dlib/opencv/cv_image.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <vector>

namespace orvane::linuxbackend {
namespace {

// Two coordinates a point.
constexpr int shapeSize = 2 * LandmarkPredictor::pointCount;

struct Split {
    std::uint32_t first; // the two feature pixels compared
    std::uint32_t second;
    float threshold;
};

// Far beyond any real model (15 cascades of 500 trees): a damaged file is refused before it
// asks for absurd amounts of memory.
constexpr std::size_t maximumCascades = 1000;
constexpr std::size_t maximumTrees = 100000;
constexpr std::size_t maximumSplits = 1023;

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
    std::vector<std::int16_t> leaves;
    std::vector<float> leafScales;
};

namespace {

void appendQuantised(const dlib::matrix<float, 0, 1>& leaf, std::vector<std::int16_t>& steps,
                     std::vector<float>& scales) {
    float largest = 0;
    for (const float value : leaf) {
        largest = std::max(largest, std::abs(value));
    }
    const float scale = largest > 0 ? largest / 32767.0f : 0.0f;
    scales.push_back(scale);
    for (const float value : leaf) {
        steps.push_back(scale > 0 ? static_cast<std::int16_t>(std::lround(value / scale))
                                  : std::int16_t{0});
    }
}

} // namespace

LandmarkPredictor::LandmarkPredictor() = default;
LandmarkPredictor::~LandmarkPredictor() = default;
LandmarkPredictor::LandmarkPredictor(LandmarkPredictor&&) noexcept = default;
LandmarkPredictor& LandmarkPredictor::operator=(LandmarkPredictor&&) noexcept = default;

bool LandmarkPredictor::loaded() const {
    return model_ != nullptr;
}

std::optional<std::string> LandmarkPredictor::load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::string("cannot open it");
    }
    auto model = std::make_unique<Model>();
    std::size_t cascades = 0;
    try {
        // dlib's own format, read with dlib's own readers in the order dlib::shape_predictor
        // reads it; but tree by tree straight into the dense copy, so that the parsed trees,
        // each leaf a block of its own, never pile up.
        int version = 0;
        dlib::deserialize(version, in);
        if (version != 1) {
            return "unknown model version " + std::to_string(version);
        }
        dlib::deserialize(model->meanShape, in);
        if (model->meanShape.size() != shapeSize) {
            return "a model of " + std::to_string(model->meanShape.size() / 2) +
                   " landmarks, not " + std::to_string(pointCount);
        }
        unsigned long count = 0;
        dlib::deserialize(count, in);
        cascades = count;
        if (cascades == 0 || cascades > maximumCascades) {
            return "a model of " + std::to_string(cascades) + " cascades";
        }
        // Copies one parsed tree into the dense arrays. On failure: what is wrong with it.
        const auto append =
            [&](const dlib::impl::regression_tree& tree) -> std::optional<std::string> {
            if (model->splits.empty()) {
                model->splitsPerTree = tree.splits.size();
                model->leavesPerTree = tree.leaf_values.size();
                if (model->splitsPerTree > maximumSplits ||
                    model->leavesPerTree != model->splitsPerTree + 1) {
                    return std::string("trees that are not complete");
                }
                const std::size_t trees = cascades * model->treesPerCascade;
                model->splits.reserve(trees * model->splitsPerTree);
                model->leaves.reserve(trees * model->leavesPerTree * shapeSize);
                model->leafScales.reserve(trees * model->leavesPerTree);
            }
            if (tree.splits.size() != model->splitsPerTree ||
                tree.leaf_values.size() != model->leavesPerTree) {
                return std::string("trees of different sizes");
            }
            for (const auto& split : tree.splits) {
                if (split.idx1 > std::numeric_limits<std::uint32_t>::max() ||
                    split.idx2 > std::numeric_limits<std::uint32_t>::max()) {
                    return std::string("a split on a feature that does not exist");
                }
                model->splits.push_back({static_cast<std::uint32_t>(split.idx1),
                                         static_cast<std::uint32_t>(split.idx2), split.thresh});
            }
            for (const auto& leaf : tree.leaf_values) {
                if (leaf.size() != shapeSize) {
                    return std::string("leaves of the wrong size");
                }
                if (!std::all_of(leaf.begin(), leaf.end(),
                                 [](float value) { return std::isfinite(value); })) {
                    return std::string("leaves that are not numbers");
                }
                appendQuantised(leaf, model->leaves, model->leafScales);
            }
            return std::nullopt;
        };
        dlib::impl::regression_tree tree;
        for (std::size_t cascade = 0; cascade < cascades; ++cascade) {
            dlib::deserialize(count, in);
            if (count == 0 || count > maximumTrees ||
                (cascade > 0 && count != model->treesPerCascade)) {
                return std::string("cascades of different sizes");
            }
            model->treesPerCascade = count;
            for (std::size_t i = 0; i < model->treesPerCascade; ++i) {
                using dlib::deserialize;
                deserialize(tree, in); // found by argument-dependent lookup
                if (auto problem = append(tree)) {
                    return problem;
                }
            }
        }
        dlib::deserialize(model->anchors, in);
        dlib::deserialize(model->deltas, in);
    } catch (const std::exception& error) {
        std::string reason = error.what();
        reason.erase(std::find(reason.begin(), reason.end(), '\n'), reason.end());
        return reason;
    }
    if (model->anchors.size() != cascades || model->deltas.size() != cascades) {
        return std::string("an incomplete model");
    }
    // Every comparison must read features the cascade has, anchored to landmarks that exist.
    const Split* split = model->splits.data();
    for (std::size_t cascade = 0; cascade < cascades; ++cascade) {
        const auto featureCount = model->anchors[cascade].size();
        if (model->deltas[cascade].size() != featureCount) {
            return std::string("features without offsets");
        }
        for (const auto anchor : model->anchors[cascade]) {
            if (anchor >= static_cast<unsigned long>(pointCount)) {
                return std::string("a feature anchored to no landmark");
            }
        }
        const std::size_t splits = model->treesPerCascade * model->splitsPerTree;
        for (std::size_t i = 0; i < splits; ++i, ++split) {
            if (split->first >= featureCount || split->second >= featureCount) {
                return std::string("a split on a feature that does not exist");
            }
        }
    }
    model_ = std::move(model);
    return std::nullopt;
}

LandmarkPredictor::Points LandmarkPredictor::predict(const cv::Mat& gray,
                                                     const cv::Rect& box) const {
    const Model& model = *model_;
    const dlib::cv_image<unsigned char> image(gray);
    // An empty box would make the mapping from the model's unit square singular.
    const dlib::rectangle rect(box.x, box.y, box.x + std::max(box.width, 2) - 1,
                               box.y + std::max(box.height, 2) - 1);
    dlib::matrix<float, 0, 1> shape = model.meanShape;
    std::vector<float> features;
    struct Chosen {
        const std::int16_t* steps;
        float scale;
    };
    std::vector<Chosen> chosen;
    chosen.reserve(model.treesPerCascade);
    const Split* split = model.splits.data();
    const std::int16_t* leaves = model.leaves.data();
    const float* scales = model.leafScales.data();
    const std::size_t leafBlock = model.leavesPerTree * shapeSize;
    for (std::size_t cascade = 0; cascade < model.anchors.size(); ++cascade) {
        dlib::impl::extract_feature_pixel_values(image, rect, shape, model.meanShape,
                                                 model.anchors[cascade], model.deltas[cascade],
                                                 features);
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
        for (const auto& [steps, scale] : chosen) {
            for (int i = 0; i < shapeSize; ++i) {
                sum[i] += scale * static_cast<float>(steps[i]);
            }
        }
        for (int i = 0; i < shapeSize; ++i) {
            shape(i) = sum[i];
        }
    }
    const auto toImage = dlib::impl::unnormalizing_tform(rect);
    Points points;
    for (int i = 0; i < pointCount; ++i) {
        const dlib::dpoint point = toImage(dlib::impl::location(shape, i));
        points[i] = cv::Point2d(point.x(), point.y());
    }
    return points;
}

} // namespace orvane::linuxbackend
