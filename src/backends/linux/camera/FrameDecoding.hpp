#pragma once

#include "orvane/platform/CameraService.hpp"

#include <cstddef>
#include <cstdint>
#include <opencv2/core.hpp>

namespace orvane::linuxbackend::FrameDecoding {

// A Motion-JPEG frame as `format` (bgr24 or gray8), its sides divided by `scale` (1, 2, 4 or
// 8; rounded up); empty when the bytes are no JPEG. In gray8, only the top `rows` of the frame
// (a fraction of its height) may be decoded, the rows below left black: a JPEG is decoded from
// the top down, and stopping early leaves the rest of its data unread.
// `pictureRows`, when given, is set to the rows decoded (0: all of them).
cv::Mat decodeMjpeg(const std::uint8_t* data, std::size_t size, PixelFormat format, int scale = 1,
                    double rows = 1, int* pictureRows = nullptr);

// A packed YUV 4:2:2 frame as `format` (bgr24 or gray8); empty when `size` bytes cannot hold
// `height` lines of `bytesPerLine`.
cv::Mat decodeYuyv(const std::uint8_t* data, std::size_t size, int width, int height,
                   std::size_t bytesPerLine, PixelFormat format);

} // namespace orvane::linuxbackend::FrameDecoding
