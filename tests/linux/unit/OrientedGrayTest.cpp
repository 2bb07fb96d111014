#include "backends/linux/face/OrientedGray.hpp"

#include "linux/support/FacePhotos.hpp"

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

namespace orvane::linuxbackend {
namespace {

// `image` in rows padded by `extra` pixels, the padding filled with junk.
cv::Mat padded(const cv::Mat& image, int extra) {
    cv::Mat storage(image.rows, image.cols + extra, image.type(), cv::Scalar::all(0xA5));
    cv::Mat view = storage(cv::Rect(0, 0, image.cols, image.rows));
    image.copyTo(view);
    return view;
}

bool same(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

TEST(OrientedGray, ReadsEveryPixelFormatInPaddedRowsAlike) {
    cv::Mat bgr(37, 53, CV_8UC3);
    cv::randu(bgr, 0, 256);
    cv::Mat bgra, gray;
    cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
    cv::cvtColor(bgr, gray, cv::COLOR_BGR2GRAY);

    OrientedGray converter;
    for (const auto& frame : {padded(bgr, 3), padded(bgra, 5), padded(gray, 11)}) {
        ASSERT_EQ(converter.convert(test::pixelBuffer(frame), 1), std::nullopt);
        EXPECT_TRUE(same(converter.image(), gray)) << frame.channels() << " channels";
    }
}

TEST(OrientedGray, TurnsAndMirrorsAsTheOrientationCodeSays) {
    const cv::Mat source = (cv::Mat_<std::uint8_t>(2, 3) << 1, 2, 3, 4, 5, 6);
    const std::vector<std::pair<int, cv::Mat>> cases{
        {1, (cv::Mat_<std::uint8_t>(2, 3) << 1, 2, 3, 4, 5, 6)},
        {2, (cv::Mat_<std::uint8_t>(2, 3) << 3, 2, 1, 6, 5, 4)},
        {3, (cv::Mat_<std::uint8_t>(2, 3) << 6, 5, 4, 3, 2, 1)},
        {4, (cv::Mat_<std::uint8_t>(2, 3) << 4, 5, 6, 1, 2, 3)},
        // The front camera's view: our cameras deliver upright frames, so only the mirror.
        {5, (cv::Mat_<std::uint8_t>(2, 3) << 3, 2, 1, 6, 5, 4)},
        {6, (cv::Mat_<std::uint8_t>(3, 2) << 4, 1, 5, 2, 6, 3)},
        {7, (cv::Mat_<std::uint8_t>(3, 2) << 1, 4, 2, 5, 3, 6)},
        {8, (cv::Mat_<std::uint8_t>(3, 2) << 3, 6, 2, 5, 1, 4)},
    };
    OrientedGray converter;
    for (const auto& [orientation, expected] : cases) {
        ASSERT_EQ(converter.convert(test::pixelBuffer(source), orientation), std::nullopt);
        EXPECT_TRUE(same(converter.image(), expected)) << "orientation " << orientation;
    }
    // The caller's gray buffer is read, never written.
    EXPECT_TRUE(same(source, (cv::Mat_<std::uint8_t>(2, 3) << 1, 2, 3, 4, 5, 6)));

    // Rows longer than the mirror's steps of eight, and padded.
    cv::Mat wide(5, 53, CV_8UC1), mirrored;
    cv::randu(wide, 0, 256);
    cv::flip(wide, mirrored, 1);
    ASSERT_EQ(converter.convert(test::pixelBuffer(padded(wide, 7)), 5), std::nullopt);
    EXPECT_TRUE(same(converter.image(), mirrored));
}

TEST(OrientedGray, RefusesFramesItCannotReadSafely) {
    const cv::Mat image(4, 4, CV_8UC4, cv::Scalar::all(9));
    OrientedGray converter;
    auto frame = test::pixelBuffer(image);
    EXPECT_NE(converter.convert(frame, 0), std::nullopt);
    EXPECT_NE(converter.convert(frame, 9), std::nullopt);

    auto shortRows = frame;
    shortRows.bytesPerRow = 4 * 4 - 1;
    EXPECT_NE(converter.convert(shortRows, 1), std::nullopt);
    auto empty = frame;
    empty.width = 0;
    EXPECT_NE(converter.convert(empty, 1), std::nullopt);
    auto noData = frame;
    noData.data = nullptr;
    EXPECT_NE(converter.convert(noData, 1), std::nullopt);

    ASSERT_EQ(converter.convert(frame, 1), std::nullopt);
    EXPECT_EQ(converter.image().size(), cv::Size(4, 4));
}

} // namespace
} // namespace orvane::linuxbackend
