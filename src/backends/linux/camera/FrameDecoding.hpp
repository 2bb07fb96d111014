#pragma once

#include "orvane/platform/CameraService.hpp"

#include <cstddef>
#include <cstdint>
#include <opencv2/core.hpp>

namespace orvane::linuxbackend::FrameDecoding {

// A Motion-JPEG frame as `format` (bgr24 or gray8), its sides divided by `scale` (1, 2, 4 or
// 8; rounded up); empty when the bytes are no JPEG.
cv::Mat decodeMjpeg(const std::uint8_t* data, std::size_t size, PixelFormat format, int scale = 1);

// A packed YUV 4:2:2 frame as `format` (bgr24 or gray8); empty when `size` bytes cannot hold
// `height` lines of `bytesPerLine`.
cv::Mat decodeYuyv(const std::uint8_t* data, std::size_t size, int width, int height,
                   std::size_t bytesPerLine, PixelFormat format);

} // namespace orvane::linuxbackend::FrameDecoding
