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

// Borrowing a frame orients only what is asked for: the whole image and any region of it are
// those `convert` makes, in every orientation and pixel format, and the stored pixels read
// through the mirror are the image's.
TEST(OrientedGray, BorrowedFramesGiveWhatConvertGives) {
    cv::Mat bgr(29, 45, CV_8UC3);
    cv::randu(bgr, 0, 256);
    cv::Mat gray;
    cv::cvtColor(bgr, gray, cv::COLOR_BGR2GRAY);
    const cv::Mat paddedGray = padded(gray, 13);
    const cv::Mat paddedBgr = padded(bgr, 3);
    OrientedGray converted, borrowed;
    for (const auto& frame : {paddedGray, paddedBgr}) {
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE("orientation " + std::to_string(orientation) + ", " +
                         std::to_string(frame.channels()) + " channels");
            ASSERT_EQ(converted.convert(test::pixelBuffer(frame), orientation), std::nullopt);
            const cv::Mat& expected = converted.image();
            ASSERT_EQ(borrowed.borrow(test::pixelBuffer(frame), orientation), std::nullopt);
            ASSERT_EQ(borrowed.size(), expected.size());
            // Regions first, before anything makes the whole image: corners, edges, a pixel.
            const int w = expected.cols, h = expected.rows;
            for (const cv::Rect rect :
                 {cv::Rect(0, 0, w, h), cv::Rect(0, 0, 7, 5), cv::Rect(w - 9, h - 4, 9, 4),
                  cv::Rect(3, 2, 17, 11), cv::Rect(w - 1, 0, 1, 1), cv::Rect(0, 5, 1, h - 5)}) {
                EXPECT_TRUE(same(borrowed.region(rect), expected(rect))) << rect;
            }
            const cv::Mat& pixels = borrowed.pixels();
            bool throughMirror = pixels.size() == expected.size();
            for (int y = 0; y < h && throughMirror; ++y) {
                for (int x = 0; x < w; ++x) {
                    const int column = borrowed.mirrored() ? w - 1 - x : x;
                    throughMirror &=
                        pixels.at<std::uint8_t>(y, column) == expected.at<std::uint8_t>(y, x);
                }
            }
            EXPECT_TRUE(throughMirror);
            EXPECT_EQ(borrowed.mirrored(), orientation == 2 || orientation == 5);
            EXPECT_TRUE(same(borrowed.image(), expected));
            EXPECT_TRUE(
                same(borrowed.region(cv::Rect(2, 1, 5, 6)), expected(cv::Rect(2, 1, 5, 6))));
            borrowed.release();
        }
    }
}

// Once released, nothing of a borrowed gray frame is kept: its buffer may be reused at once.
TEST(OrientedGray, KeepsNothingOfABorrowedFrameOnceReleased) {
    cv::Mat gray(6, 10, CV_8UC1);
    cv::randu(gray, 0, 256);
    OrientedGray borrowed;
    for (int orientation : {1, 5}) {
        ASSERT_EQ(borrowed.borrow(test::pixelBuffer(gray), orientation), std::nullopt);
        (void)borrowed.image();
        borrowed.release();
        EXPECT_TRUE(borrowed.image().empty()) << "orientation " << orientation;
        EXPECT_TRUE(borrowed.pixels().empty()) << "orientation " << orientation;
    }
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
