// dlib's own extractor is the reference: template code, too slow unoptimised, so the build
// compiles this file with -O2.
#include "backends/linux/face/HogFeatures.hpp"

#include "linux/support/FacePhotos.hpp"
#include "linux/support/NoiseFrame.hpp"

#include <dlib/image_transforms/fhog.h>
#include <dlib/opencv/cv_image.h>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <cmath>

namespace orvane::linuxbackend {
namespace {

constexpr int cellSize = 8;
constexpr int filterSide = 10; // the frontal face detector's

cv::Mat grayPhoto(test::Photo which) {
    std::string problem;
    const auto image = test::loadPhoto(which, &problem);
    EXPECT_FALSE(image.empty()) << problem;
    cv::Mat gray;
    if (!image.empty()) {
        cv::cvtColor(image, gray, cv::COLOR_BGR2GRAY);
    }
    return gray;
}

// Ours beside dlib's on one image: the same plane sizes, zeros past each row's features, and
// the largest difference of any feature.
float largestDifference(const cv::Mat& image, long extraStride = 3) {
    dlib::array<dlib::array2d<float>> expected;
    dlib::extract_fhog_features(dlib::cv_image<unsigned char>(image), expected, cellSize,
                                filterSide, filterSide);
    HogFeatures features(cellSize, filterSide, filterSide);
    const auto size = features.sizeFor(image.rows, image.cols);
    EXPECT_EQ(expected.size(), static_cast<std::size_t>(HogFeatures::planeCount));
    EXPECT_EQ(size.rows, expected[0].nr());
    EXPECT_EQ(size.columns, expected[0].nc());
    if (size.rows == 0 || size.rows != expected[0].nr() || size.columns != expected[0].nc()) {
        return size.rows == expected[0].nr() ? 0.0f : INFINITY;
    }
    const long stride = size.columns + extraStride;
    const auto planeStride = static_cast<std::size_t>(size.rows * stride);
    // Filled with a marker, so that a value not written shows.
    std::vector<float> planes(planeStride * HogFeatures::planeCount + 5, -7.0f);
    features.extract(image.ptr<unsigned char>(), image.rows, image.cols, image.step[0],
                     planes.data(), planeStride, stride);
    float largest = 0;
    for (int plane = 0; plane < HogFeatures::planeCount; ++plane) {
        for (long r = 0; r < size.rows; ++r) {
            for (long c = 0; c < stride; ++c) {
                const float ours = planes[plane * planeStride + r * stride + c];
                const float theirs = c < size.columns ? expected[plane][r][c] : 0.0f;
                largest = std::max(largest, std::abs(ours - theirs));
            }
        }
    }
    EXPECT_EQ(planes.back(), -7.0f) << "written past the last plane";
    return largest;
}

// On x86-64 the same operations in the same order round the same: equal to the bit. dlib's
// NEON divides by an estimate of the reciprocal; features lie in [0, 0.4] or so, so 1e-6 is
// a rounding there, where a wrong vote would be 1e-2.
#ifdef __x86_64__
constexpr float rounding = 0.0f;
#else
constexpr float rounding = 1e-6f;
#endif

TEST(HogFeaturesTest, EqualDlibsOnPhotosAndNoise) {
    std::string problem;
    const auto face = test::standardFaceFrame(&problem);
    ASSERT_FALSE(face.empty()) << problem;
    cv::Mat faceGray;
    cv::cvtColor(face, faceGray, cv::COLOR_BGR2GRAY);
    cv::Mat half;
    cv::resize(faceGray, half, cv::Size(640, 360), 0, 0, cv::INTER_AREA);
    EXPECT_LE(largestDifference(faceGray), rounding);
    EXPECT_LE(largestDifference(half), rounding);
    EXPECT_LE(largestDifference(grayPhoto(test::Photo::astronaut)), rounding);
    EXPECT_LE(largestDifference(grayPhoto(test::Photo::coffee)), rounding);
    EXPECT_LE(largestDifference(test::noise(360, 640, 1)), rounding);
    // Flat and saturated: every gradient zero, then the largest ones.
    EXPECT_LE(largestDifference(cv::Mat(97, 131, CV_8UC1, cv::Scalar(128))), rounding);
    cv::Mat stripes(96, 128, CV_8UC1);
    for (int c = 0; c < stripes.cols; ++c) {
        stripes.col(c).setTo(c % 2 ? 255 : 0);
    }
    EXPECT_LE(largestDifference(stripes), rounding);
    EXPECT_LE(largestDifference(stripes.t()), rounding);
}

// Sizes around every edge of the vectors and of the cells, as odd as the pyramid makes them,
// and a crop whose rows are longer than its width.
TEST(HogFeaturesTest, EqualDlibsAtEverySize) {
    const std::vector<std::pair<int, int>> sizes{
        {1, 1},   {7, 300},  {300, 7},  {8, 8},    {20, 20},   {23, 23},   {24, 25},
        {27, 28}, {31, 33},  {33, 41},  {40, 71},  {45, 79},   {64, 64},   {65, 87},
        {71, 95}, {80, 103}, {99, 121}, {101, 93}, {150, 255}, {208, 370}, {361, 643},
    };
    unsigned seed = 2;
    for (const auto& [rows, columns] : sizes) {
        SCOPED_TRACE(testing::Message() << rows << " x " << columns);
        EXPECT_LE(largestDifference(test::noise(rows, columns, seed++)), rounding);
    }
    for (int columns = 16; columns <= 48; ++columns) {
        SCOPED_TRACE(testing::Message() << "24 x " << columns);
        EXPECT_LE(largestDifference(test::noise(24, columns, seed++), columns % 5), rounding);
    }
    const auto wide = test::noise(120, 333, seed++);
    EXPECT_LE(largestDifference(wide(cv::Rect(5, 3, 201, 97))), rounding);
}

TEST(HogFeaturesTest, TooSmallForACellGivesNoPlanes) {
    const HogFeatures features(cellSize, filterSide, filterSide);
    EXPECT_EQ(features.sizeFor(0, 0).rows, 0);
    EXPECT_EQ(features.sizeFor(1, 1).columns, 0);
    EXPECT_EQ(features.sizeFor(19, 400).rows, 0); // two cells: the border only
    EXPECT_EQ(features.sizeFor(20, 20).rows, filterSide);
    EXPECT_THROW(HogFeatures(1, filterSide, filterSide), std::invalid_argument);
    EXPECT_THROW(HogFeatures(cellSize, 0, filterSide), std::invalid_argument);
}

} // namespace
} // namespace orvane::linuxbackend
