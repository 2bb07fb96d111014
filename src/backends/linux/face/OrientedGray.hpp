#pragma once

#include "orvane/platform/CameraService.hpp"

#include <opencv2/core.hpp>

#include <optional>
#include <string>

namespace orvane::linuxbackend {

// Turns camera frames into the 8-bit gray image the face detector reads, in the orientation
// the caller asks for. Keeps its buffers from frame to frame.
class OrientedGray {
public:
    // Reads `frame` in EXIF `orientation`: 1 as it is, 2 mirrored, 3 turned half round,
    // 4 upside down, 6 and 8 turned a quarter clockwise and anticlockwise, 7 turned a
    // quarter clockwise and mirrored. Our cameras deliver upright frames, so 5 — the front
    // camera's view, as people see themselves — is the mirror alone. The image stays valid
    // until the next call; on failure: why the frame cannot be read.
    std::optional<std::string> convert(const PixelBuffer& frame, int orientation);

    const cv::Mat& image() const { return oriented_; }

private:
    cv::Mat gray_;
    cv::Mat turned_;
    cv::Mat oriented_;
};

} // namespace orvane::linuxbackend
