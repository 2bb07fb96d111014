#include "backends/linux/camera/FrameDecoding.hpp"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace orvane::linuxbackend::FrameDecoding {

cv::Mat decodeMjpeg(const std::uint8_t* data, std::size_t size, PixelFormat format) {
    if (data == nullptr || size == 0 || size > static_cast<std::size_t>(INT32_MAX)) {
        return {};
    }
    const cv::Mat encoded(1, static_cast<int>(size), CV_8UC1, const_cast<std::uint8_t*>(data));
    try {
        // Decoding straight to grey skips the chroma planes and the colour conversion.
        return cv::imdecode(encoded,
                            format == PixelFormat::gray8 ? cv::IMREAD_GRAYSCALE : cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
        return {};
    }
}

cv::Mat decodeYuyv(const std::uint8_t* data, std::size_t size, int width, int height,
                   std::size_t bytesPerLine, PixelFormat format) {
    if (data == nullptr || width <= 0 || height <= 0 || width % 2 != 0 ||
        bytesPerLine < static_cast<std::size_t>(width) * 2 ||
        size / bytesPerLine < static_cast<std::size_t>(height)) {
        return {};
    }
    const cv::Mat packed(height, width, CV_8UC2, const_cast<std::uint8_t*>(data), bytesPerLine);
    cv::Mat image;
    cv::cvtColor(packed, image,
                 format == PixelFormat::gray8 ? cv::COLOR_YUV2GRAY_YUYV : cv::COLOR_YUV2BGR_YUYV);
    return image;
}

} // namespace orvane::linuxbackend::FrameDecoding
