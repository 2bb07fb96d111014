// dlib's own pyramid is the reference: template code, too slow unoptimised, so the build
// compiles this file with -O2.
#include "backends/linux/face/PyramidDown.hpp"

#include "linux/support/FacePhotos.hpp"
#include "linux/support/NoiseFrame.hpp"

#include <dlib/image_transforms/image_pyramid.h>
#include <dlib/image_transforms/interpolation.h>
#include <dlib/opencv/cv_image.h>
#include <dlib/opencv/to_open_cv.h>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

namespace orvane::linuxbackend {
namespace {

// Ours beside dlib's: the number of pixels that differ, or -1 for another size.
long pixelsDiffering(PyramidDown& shrink, const cv::Mat& image) {
    dlib::array2d<unsigned char> expected;
    dlib::pyramid_down<6>()(dlib::cv_image<unsigned char>(image), expected);
    std::vector<unsigned char> ours;
    shrink.shrink(image.ptr<unsigned char>(), image.rows, image.cols, image.step[0], ours);
    const auto size = shrink.sizeFor(image.rows, image.cols);
    if (size.rows != expected.nr() || size.columns != expected.nc() ||
        ours.size() != static_cast<std::size_t>(expected.size())) {
        return -1;
    }
    long differing = 0;
    for (long r = 0; r < size.rows; ++r) {
        for (long c = 0; c < size.columns; ++c) {
            differing += ours[static_cast<std::size_t>(r * size.columns + c)] != expected[r][c];
        }
    }
    return differing;
}

// The same pixels as dlib's pyramid_down<6>, level after level, on a face frame and a photo,
// on noise, and on every kind of size the vectors and the four-column groups meet.
TEST(PyramidDownTest, GivesDlibsPixels) {
    PyramidDown shrink(6);
    std::string problem;
    const auto face = test::standardFaceFrame(&problem);
    ASSERT_FALSE(face.empty()) << problem;
    cv::Mat level;
    cv::cvtColor(face, level, cv::COLOR_BGR2GRAY);
    cv::resize(level, level, cv::Size(640, 360), 0, 0, cv::INTER_AREA);
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(level.cols);
        EXPECT_EQ(pixelsDiffering(shrink, level), 0);
        dlib::array2d<unsigned char> next;
        dlib::pyramid_down<6>()(dlib::cv_image<unsigned char>(level), next);
        level = dlib::toMat(next).clone();
    }
    const auto photo = test::loadPhoto(test::Photo::astronaut, &problem);
    ASSERT_FALSE(photo.empty()) << problem;
    cv::Mat gray;
    cv::cvtColor(photo, gray, cv::COLOR_BGR2GRAY);
    EXPECT_EQ(pixelsDiffering(shrink, gray), 0);

    unsigned seed = 1;
    for (const auto& [rows, columns] : std::vector<std::pair<int, int>>{{1, 1},
                                                                        {2, 2},
                                                                        {6, 6},
                                                                        {7, 300},
                                                                        {300, 7},
                                                                        {13, 17},
                                                                        {36, 41},
                                                                        {64, 64},
                                                                        {65, 77},
                                                                        {99, 101},
                                                                        {208, 370},
                                                                        {250, 444},
                                                                        {300, 533},
                                                                        {361, 643}}) {
        SCOPED_TRACE(testing::Message() << rows << " x " << columns);
        EXPECT_EQ(pixelsDiffering(shrink, test::noise(rows, columns, seed++)), 0);
    }
    for (int columns = 2; columns <= 60; ++columns) {
        SCOPED_TRACE(testing::Message() << "12 x " << columns);
        EXPECT_EQ(pixelsDiffering(shrink, test::noise(12, columns, seed++)), 0);
    }
    const auto wide = test::noise(100, 300, seed++);
    EXPECT_EQ(pixelsDiffering(shrink, wide(cv::Rect(3, 2, 181, 71))), 0);
    EXPECT_THROW(PyramidDown(1), std::invalid_argument);
}

} // namespace
} // namespace orvane::linuxbackend
