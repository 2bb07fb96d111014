#include "backends/linux/camera/FrameDecoding.hpp"

#include "linux/support/FacePhotos.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <vector>

namespace orvane::linuxbackend {
namespace {

// A webcam's frame: a face photo in colour, JPEG-coded.
std::vector<std::uint8_t> jpegFrame() {
    std::string problem;
    const auto face = test::loadPhoto(test::Photo::graceHopper, &problem);
    EXPECT_FALSE(face.empty()) << problem;
    cv::Mat frame;
    cv::resize(face, frame, cv::Size(320, 240));
    std::vector<std::uint8_t> bytes;
    // OpenCV's encoder halves the chroma both ways, as webcams do.
    cv::imencode(".jpg", frame, bytes, {cv::IMWRITE_JPEG_QUALITY, 85});
    return bytes;
}

bool same(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// Decoding only the top rows gives those rows as the whole decode does, to the bit, at every
// scale; the rows below are black, and the count of rows decoded ends on a whole row of blocks.
TEST(FrameDecoding, TheTopRowsAloneAreDecodedAsInTheWholeFrame) {
    const auto bytes = jpegFrame();
    ASSERT_FALSE(bytes.empty());
    for (const int scale : {1, 2, 4}) {
        const auto whole =
            FrameDecoding::decodeMjpeg(bytes.data(), bytes.size(), PixelFormat::gray8, scale);
        ASSERT_EQ(whole.rows, 240 / scale);
        const int block = 16 / scale;
        for (const double rows : {0.01, 0.3, 0.5, 0.85}) {
            SCOPED_TRACE("1/" + std::to_string(scale) + ", " + std::to_string(rows));
            int pictureRows = -1;
            const auto top = FrameDecoding::decodeMjpeg(
                bytes.data(), bytes.size(), PixelFormat::gray8, scale, rows, &pictureRows);
            ASSERT_EQ(top.size(), whole.size());
            ASSERT_GT(pictureRows, 0);
            EXPECT_GE(pictureRows, rows * whole.rows);
            EXPECT_LT(pictureRows, rows * whole.rows + block);
            EXPECT_EQ(pictureRows % block, 0);
            ASSERT_LT(pictureRows, whole.rows);
            EXPECT_TRUE(same(top.rowRange(0, pictureRows), whole.rowRange(0, pictureRows)));
            EXPECT_EQ(cv::countNonZero(top.rowRange(pictureRows, top.rows)), 0);
        }
    }
}

// All the rows, or any share that rounds up to them, is the whole decode; so is colour, which
// is never cut; and a demand that is not a share at all asks for nothing less than the whole.
TEST(FrameDecoding, AWholeFrameIsDecodedWholeAndSaysSo) {
    const auto bytes = jpegFrame();
    const auto whole = FrameDecoding::decodeMjpeg(bytes.data(), bytes.size(), PixelFormat::gray8);
    for (const double rows : {1.0, 0.999, 2.0, 0.0, -1.0, std::nan("")}) {
        int pictureRows = -1;
        const auto decoded = FrameDecoding::decodeMjpeg(bytes.data(), bytes.size(),
                                                        PixelFormat::gray8, 1, rows, &pictureRows);
        EXPECT_EQ(pictureRows, 0) << rows;
        EXPECT_TRUE(same(decoded, whole)) << rows;
    }
    int pictureRows = -1;
    const auto colour = FrameDecoding::decodeMjpeg(bytes.data(), bytes.size(), PixelFormat::bgr24,
                                                   1, 0.3, &pictureRows);
    EXPECT_EQ(pictureRows, 0);
    EXPECT_TRUE(
        same(colour, FrameDecoding::decodeMjpeg(bytes.data(), bytes.size(), PixelFormat::bgr24)));
}

// Data cut short or damaged mid-way, as a camera on a bad bus sends it: no crash, and either
// a frame with what could be read or none.
TEST(FrameDecoding, ADamagedFrameDecodedInPartIsAFrameOrNoneNeverACrash) {
    auto bytes = jpegFrame();
    const auto whole = FrameDecoding::decodeMjpeg(bytes.data(), bytes.size(), PixelFormat::gray8);
    const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + bytes.size() / 3);
    int pictureRows = -1;
    const auto fromCut = FrameDecoding::decodeMjpeg(cut.data(), cut.size(), PixelFormat::gray8, 1,
                                                    0.8, &pictureRows);
    ASSERT_FALSE(fromCut.empty()) << "a frame cut short keeps what came, as a whole decode does";
    EXPECT_EQ(fromCut.size(), whole.size());
    // Garbage after the headers.
    for (std::size_t i = bytes.size() / 4; i < bytes.size() - 2; i += 7) {
        bytes[i] = static_cast<std::uint8_t>(i * 31);
    }
    FrameDecoding::decodeMjpeg(bytes.data(), bytes.size(), PixelFormat::gray8, 2, 0.5);
    // No JPEG at all.
    const std::vector<std::uint8_t> noise(4000, 0x5A);
    EXPECT_TRUE(
        FrameDecoding::decodeMjpeg(noise.data(), noise.size(), PixelFormat::gray8, 1, 0.5).empty());
}

} // namespace
} // namespace orvane::linuxbackend
