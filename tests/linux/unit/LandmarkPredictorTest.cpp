// Compares with dlib's own shape predictor, so this file includes dlib and is built at -O2.
#include "backends/linux/face/LandmarkPredictor.hpp"

#include "backends/linux/face/DlibFaceDetector.hpp"
#include "linux/support/FacePhotos.hpp"

#include <dlib/image_processing/shape_predictor.h>
#include <dlib/opencv/cv_image.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

TEST(LandmarkPredictor, FindsTheLandmarksOfDlibsShapePredictor) {
    const std::string path = DlibFaceDetector::defaultModelPath;
    LandmarkPredictor ours;
    ASSERT_EQ(ours.load(path), std::nullopt);
    dlib::shape_predictor theirs;
    dlib::deserialize(path) >> theirs;

    std::string problem;
    const auto grace = test::loadPhoto(test::Photo::graceHopper, &problem);
    const auto astronaut = test::loadPhoto(test::Photo::astronaut, &problem);
    ASSERT_FALSE(grace.empty() || astronaut.empty()) << problem;
    struct Case {
        cv::Mat photo;
        cv::Rect box;
    };
    // Boxes around the faces as the detector finds them, one of them off-centre and too big,
    // and one reaching out of the image.
    for (const auto& [photo, box] :
         {Case{grace, {146, 160, 190, 190}}, Case{grace, {120, 140, 260, 240}},
          Case{astronaut, {170, 80, 110, 110}}, Case{astronaut, {440, -30, 120, 120}}}) {
        cv::Mat gray;
        cv::cvtColor(photo, gray, cv::COLOR_BGR2GRAY);
        const auto points = ours.predict(gray, box);
        const auto reference =
            theirs(dlib::cv_image<unsigned char>(gray),
                   dlib::rectangle(box.x, box.y, box.x + box.width - 1, box.y + box.height - 1));
        ASSERT_EQ(reference.num_parts(), static_cast<unsigned long>(points.size()));
        for (std::size_t i = 0; i < points.size(); ++i) {
            // dlib rounds its points to whole pixels; ours keep the leaves to 16 bits.
            EXPECT_NEAR(points[i].x, reference.part(i).x(), 0.51) << "point " << i;
            EXPECT_NEAR(points[i].y, reference.part(i).y(), 0.51) << "point " << i;
        }
    }
}

// dlib's own evaluation of the model, before it rounds the points to whole pixels: ours keep
// the leaves to 16 bits and work out the features' geometry in closed form, which must move
// no point by more than a hundredth of a pixel, nor send any tree down another branch.
TEST(LandmarkPredictor, MatchesDlibsUnroundedLandmarks) {
    const std::string path = DlibFaceDetector::defaultModelPath;
    LandmarkPredictor ours;
    ASSERT_EQ(ours.load(path), std::nullopt);
    std::ifstream in(path, std::ios::binary);
    int version = 0;
    dlib::matrix<float, 0, 1> mean;
    std::vector<std::vector<dlib::impl::regression_tree>> forests;
    std::vector<std::vector<unsigned long>> anchors;
    std::vector<std::vector<dlib::vector<float, 2>>> deltas;
    dlib::deserialize(version, in);
    dlib::deserialize(mean, in);
    dlib::deserialize(forests, in);
    dlib::deserialize(anchors, in);
    dlib::deserialize(deltas, in);

    std::string problem;
    const auto grace = test::loadPhoto(test::Photo::graceHopper, &problem);
    const auto astronaut = test::loadPhoto(test::Photo::astronaut, &problem);
    ASSERT_FALSE(grace.empty() || astronaut.empty()) << problem;
    struct Case {
        cv::Mat photo;
        cv::Rect box;
    };
    // Boxes as the detector and the follower place them, off-centre, too big, too small,
    // reaching out of the image on either side, and a degenerate one.
    for (const auto& [photo, box] :
         {Case{grace, {146, 160, 190, 190}}, Case{grace, {120, 140, 260, 240}},
          Case{grace, {171, 185, 140, 140}}, Case{grace, {-60, 300, 200, 200}},
          Case{astronaut, {170, 80, 110, 110}}, Case{astronaut, {440, -30, 120, 120}},
          Case{astronaut, {200, 100, 2, 2}}}) {
        cv::Mat gray;
        cv::cvtColor(photo, gray, cv::COLOR_BGR2GRAY);
        const auto points = ours.predict(gray, box);
        const dlib::cv_image<unsigned char> image(gray);
        const dlib::rectangle rect(box.x, box.y, box.x + box.width - 1, box.y + box.height - 1);
        dlib::matrix<float, 0, 1> shape = mean;
        std::vector<float> features;
        for (std::size_t cascade = 0; cascade < forests.size(); ++cascade) {
            dlib::impl::extract_feature_pixel_values(image, rect, shape, mean, anchors[cascade],
                                                     deltas[cascade], features);
            unsigned long leaf = 0;
            for (const auto& tree : forests[cascade]) {
                shape += tree(features, leaf);
            }
        }
        const auto toImage = dlib::impl::unnormalizing_tform(rect);
        for (std::size_t i = 0; i < points.size(); ++i) {
            const auto reference = toImage(dlib::impl::location(shape, i));
            EXPECT_NEAR(points[i].x, reference.x(), 0.01) << "point " << i << " in " << box;
            EXPECT_NEAR(points[i].y, reference.y(), 0.01) << "point " << i << " in " << box;
        }
    }
}

// The leaves are added up eight at a time where the processor has AVX2 and four at a time
// otherwise: the same points to the bit either way, in boxes inside the image and reaching out
// of it, mirrored or not.
TEST(LandmarkPredictor, AddsTheLeavesUpTheSameWithOrWithoutWideVectors) {
    LandmarkPredictor predictor;
    ASSERT_EQ(predictor.load(DlibFaceDetector::defaultModelPath), std::nullopt);
    std::string problem;
    const auto grace = test::loadPhoto(test::Photo::graceHopper, &problem);
    ASSERT_FALSE(grace.empty()) << problem;
    cv::Mat gray;
    cv::cvtColor(grace, gray, cv::COLOR_BGR2GRAY);
    for (const cv::Rect box : {cv::Rect(146, 160, 190, 190), cv::Rect(171, 185, 140, 140),
                               cv::Rect(-60, 300, 200, 200), cv::Rect(200, 100, 2, 2)}) {
        for (const bool mirrored : {false, true}) {
            const auto read = [&] {
                return mirrored ? predictor.predictMirrored(gray, box)
                                : predictor.predict(gray, box);
            };
            predictor.setPortableArithmetic(false);
            const auto fast = read();
            predictor.setPortableArithmetic(true);
            const auto portable = read();
            for (std::size_t i = 0; i < fast.size(); ++i) {
                EXPECT_EQ(fast[i].x, portable[i].x) << "point " << i << " in " << box;
                EXPECT_EQ(fast[i].y, portable[i].y) << "point " << i << " in " << box;
            }
        }
    }
}

// Read in a mirror image without making it: the same points, bit for bit, as in the mirror
// image made, whether the box sits inside the image or reaches out of it on either side.
TEST(LandmarkPredictor, ReadsAMirrorImageAsIfItWereMade) {
    LandmarkPredictor ours;
    ASSERT_EQ(ours.load(DlibFaceDetector::defaultModelPath), std::nullopt);
    std::string problem;
    const auto grace = test::loadPhoto(test::Photo::graceHopper, &problem);
    ASSERT_FALSE(grace.empty()) << problem;
    cv::Mat gray, mirrored;
    cv::cvtColor(grace, gray, cv::COLOR_BGR2GRAY);
    cv::flip(gray, mirrored, 1);
    const int width = gray.cols;
    for (const cv::Rect box : {cv::Rect(width - 336, 160, 190, 190), cv::Rect(-60, 300, 200, 200),
                               cv::Rect(width - 100, 120, 200, 200), cv::Rect(200, 100, 2, 2)}) {
        const auto made = ours.predict(mirrored, box);
        const auto read = ours.predictMirrored(gray, box);
        for (std::size_t i = 0; i < made.size(); ++i) {
            EXPECT_EQ(read[i], made[i]) << "point " << i << " in " << box;
        }
    }
}

TEST(LandmarkPredictor, RefusesFilesThatAreNotALandmarkModel) {
    const auto directory =
        std::filesystem::temp_directory_path() / ("orvane-landmarks-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
    const auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(directory / name, std::ios::binary) << bytes;
        return (directory / name).string();
    };
    LandmarkPredictor predictor;
    EXPECT_NE(predictor.load((directory / "absent.dat").string()), std::nullopt);
    EXPECT_NE(predictor.load(write("empty.dat", "")), std::nullopt);
    EXPECT_NE(predictor.load(write("text.dat", "a text file, not a model\n")), std::nullopt);
    EXPECT_NE(predictor.load(directory.string()), std::nullopt);
    // The start of the real model: the file ends in the middle of the trees.
    std::ifstream model(DlibFaceDetector::defaultModelPath, std::ios::binary);
    std::string start(1 << 20, '\0');
    model.read(start.data(), static_cast<std::streamsize>(start.size()));
    EXPECT_NE(predictor.load(write("truncated.dat", start)), std::nullopt);
    EXPECT_FALSE(predictor.loaded());
    std::filesystem::remove_all(directory);
}

// A small model in dlib's format, written with dlib's own writers: two cascades of two trees
// of one split, two features each. The cases below damage one part at a time.
struct Parts {
    dlib::matrix<float, 0, 1> mean;
    std::vector<std::vector<dlib::impl::regression_tree>> forests;
    std::vector<std::vector<unsigned long>> anchors{{3, 40}, {8, 57}};
    std::vector<std::vector<dlib::vector<float, 2>>> deltas{{{0.01f, 0.02f}, {-0.03f, 0.0f}},
                                                            {{0.0f, -0.02f}, {0.04f, 0.01f}}};

    Parts() {
        mean.set_size(136);
        for (long i = 0; i < mean.size(); ++i) {
            mean(i) = 0.2f + 0.0045f * static_cast<float>(i);
        }
        dlib::impl::regression_tree tree;
        tree.splits = {{0, 1, 2.5f}};
        tree.leaf_values.assign(2, dlib::zeros_matrix<float>(136, 1));
        tree.leaf_values[1] = dlib::ones_matrix<float>(136, 1) * 0.01f;
        tree.leaf_values[0](7) = -0.02f;
        forests.assign(2, {tree, tree});
    }

    std::string bytes() const {
        std::ostringstream out;
        dlib::serialize(1, out);
        dlib::serialize(mean, out);
        dlib::serialize(forests, out);
        dlib::serialize(anchors, out);
        dlib::serialize(deltas, out);
        return out.str();
    }
};

// dlib's integers and numbers, for files that no dlib writer would make.
std::string unsignedNumber(unsigned long value) {
    std::ostringstream out;
    dlib::serialize(value, out);
    return out.str();
}

std::string signedNumber(long value) {
    std::ostringstream out;
    dlib::serialize(value, out);
    return out.str();
}

std::optional<std::string> loadBytes(LandmarkPredictor& predictor, const std::string& bytes) {
    std::istringstream in(bytes);
    return predictor.load(in);
}

TEST(LandmarkPredictor, ReadsAModelOfAnySizeAsDlibDoes) {
    const Parts parts;
    LandmarkPredictor ours;
    ASSERT_EQ(loadBytes(ours, parts.bytes()), std::nullopt);
    dlib::shape_predictor theirs;
    std::istringstream in(parts.bytes());
    dlib::deserialize(theirs, in);

    std::string problem;
    const auto grace = test::loadPhoto(test::Photo::graceHopper, &problem);
    ASSERT_FALSE(grace.empty()) << problem;
    cv::Mat gray;
    cv::cvtColor(grace, gray, cv::COLOR_BGR2GRAY);
    const cv::Rect box(146, 160, 190, 190);
    const auto points = ours.predict(gray, box);
    const auto reference =
        theirs(dlib::cv_image<unsigned char>(gray),
               dlib::rectangle(box.x, box.y, box.x + box.width - 1, box.y + box.height - 1));
    for (std::size_t i = 0; i < points.size(); ++i) {
        EXPECT_NEAR(points[i].x, reference.part(i).x(), 0.51) << "point " << i;
        EXPECT_NEAR(points[i].y, reference.part(i).y(), 0.51) << "point " << i;
    }
}

// A read told to stop, as a detector that goes away tells its loader, gives up before the
// trees, and a predictor keeps the model it had; told to go on, it reads the model.
TEST(LandmarkPredictor, AReadToldToStopGivesUpAndKeepsTheModelItHad) {
    const std::string bytes = Parts().bytes();
    const std::atomic<bool> stop{true};
    const std::atomic<bool> goOn{false};
    LandmarkPredictor fresh;
    std::istringstream stopped(bytes);
    EXPECT_EQ(fresh.load(stopped, &stop), std::optional<std::string>("stopped"));
    EXPECT_FALSE(fresh.loaded());
    std::istringstream whole(bytes);
    EXPECT_EQ(fresh.load(whole, &goOn), std::nullopt);
    EXPECT_TRUE(fresh.loaded());

    std::istringstream again(bytes);
    EXPECT_NE(fresh.load(again, &stop), std::nullopt);
    EXPECT_TRUE(fresh.loaded());
}

// Each of these would have dlib's readers ask for terabytes, or read outside the model when
// it predicts: refused, with the predictor left unloaded, and no more memory asked for than
// the file could fill.
TEST(LandmarkPredictor, RefusesHostileModelsBeforeAllocatingForThem) {
    const std::string good = Parts().bytes();
    std::string head; // the version and the mean shape
    std::string forests;
    {
        std::ostringstream out;
        dlib::serialize(1, out);
        dlib::serialize(Parts().mean, out);
        head = out.str();
        std::ostringstream trees;
        dlib::serialize(Parts().forests, trees);
        forests = trees.str();
    }
    const auto damaged = [](const std::function<void(Parts&)>& damage) {
        Parts parts;
        damage(parts);
        return parts.bytes();
    };
    struct Case {
        const char* name;
        std::string bytes;
        const char* says;
    };
    const std::string padding(4096, '\x01');
    const Case cases[] = {
        {"a count of cascades in the quintillions", head + unsignedNumber(1ul << 60) + padding,
         "too many cascades"},
        {"the largest model allowed, in a small file",
         head + unsignedNumber(1000) + unsignedNumber(100000) + unsignedNumber(1023) + padding,
         "more trees than the file holds"},
        {"a leaf of 2^62 landmarks",
         head + unsignedNumber(1) + unsignedNumber(1) + unsignedNumber(0) + unsignedNumber(1) +
             signedNumber(-(1l << 62)) + signedNumber(-1) + padding,
         "landmarks of the wrong number"},
        {"features in the trillions",
         head + forests + unsignedNumber(2) + unsignedNumber(1ul << 40) + padding,
         "too many features"},
        {"a leaf that is not a number", damaged([](Parts& parts) {
             parts.forests[1][0].leaf_values[0](3) = std::numeric_limits<float>::quiet_NaN();
         }),
         "leaves that are not numbers"},
        {"a feature anchored past the last landmark",
         damaged([](Parts& parts) { parts.anchors[1][0] = 68; }), "anchored to no landmark"},
        {"a split on a feature the cascade lacks",
         damaged([](Parts& parts) { parts.forests[0][1].splits[0].idx2 = 2; }),
         "a split on a feature that does not exist"},
        {"offsets for fewer features than anchors",
         damaged([](Parts& parts) { parts.deltas[0].pop_back(); }), "features without offsets"},
        {"trees of different depths", damaged([](Parts& parts) {
             parts.forests[1][1].splits.push_back({0, 1, 0.0f});
             parts.forests[1][1].leaf_values.push_back(dlib::zeros_matrix<float>(136, 1));
         }),
         "trees of different sizes"},
        {"an offset that is infinite", damaged([](Parts& parts) {
             parts.deltas[1][1].x() = std::numeric_limits<float>::infinity();
         }),
         "not numbers"},
        {"the model cut short", good.substr(0, good.size() - 3), "cut short"},
    };
    for (const auto& [name, bytes, says] : cases) {
        SCOPED_TRACE(name);
        LandmarkPredictor predictor;
        const auto problem = loadBytes(predictor, bytes);
        ASSERT_NE(problem, std::nullopt);
        EXPECT_NE(problem->find(says), std::string::npos) << *problem;
        EXPECT_FALSE(predictor.loaded());
    }
}

} // namespace
} // namespace orvane::linuxbackend
