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

    // The same, but a frame read as it is or mirrored (1, 2, 5) is oriented only as far as it
    // is asked for: following a face needs a few regions of the frame, not all of it. Until
    // `release`, the image and regions are made from the frame's own buffer (when gray), which
    // must stay as it is until then.
    std::optional<std::string> borrow(const PixelBuffer& frame, int orientation);
    // Lets go of the frame's buffer, which `borrow` may still read.
    void release();

    cv::Size size() const { return size_; }
    // The whole oriented image.
    const cv::Mat& image() const;
    // The oriented pixels of `rect` (within the image): a view of them, or a copy valid until
    // the next call.
    cv::Mat region(const cv::Rect& rect) const;
    // The oriented image's pixels as stored: mirrored left to right when `mirrored()`. A pixel
    // at (x, y) of the oriented image is then at (width - 1 - x, y) of these.
    const cv::Mat& pixels() const { return mirrored_ ? gray_ : image(); }
    bool mirrored() const { return mirrored_; }

private:
    std::optional<std::string> read(const PixelBuffer& frame, int orientation);
    void orient(int orientation);

    cv::Mat gray_;
    cv::Mat turned_;
    mutable cv::Mat oriented_;
    mutable cv::Mat region_;
    cv::Size size_;
    // Borrowed frames read as they are or mirrored, not yet (or not at all) made whole.
    bool mirrored_ = false;
    bool asItIs_ = false;
    mutable bool whole_ = false;
    bool borrowsFrame_ = false;
};

} // namespace orvane::linuxbackend
