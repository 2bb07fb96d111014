#include "backends/linux/face/OrientedGray.hpp"

#include <opencv2/imgproc.hpp>

#include <cstdint>
#include <cstring>
#include <limits>

namespace orvane::linuxbackend {
namespace {

int bytesPerPixel(PixelFormat format) {
    switch (format) {
    case PixelFormat::bgra32:
        return 4;
    case PixelFormat::bgr24:
        return 3;
    case PixelFormat::gray8:
        return 1;
    }
    return 0;
}

// Left to right for one-byte pixels, eight at a time: the front camera's view is mirrored on
// every frame, and OpenCV's mirror moves bytes one by one, five times slower.
void mirror(const cv::Mat& source, cv::Mat& mirrored) {
    mirrored.create(source.size(), CV_8UC1);
    const int width = source.cols;
    for (int row = 0; row < source.rows; ++row) {
        const std::uint8_t* from = source.ptr<std::uint8_t>(row);
        std::uint8_t* to = mirrored.ptr<std::uint8_t>(row);
        int x = 0;
        for (; x + 8 <= width; x += 8) {
            std::uint64_t eight;
            std::memcpy(&eight, from + x, sizeof eight);
            eight = __builtin_bswap64(eight);
            std::memcpy(to + width - x - 8, &eight, sizeof eight);
        }
        for (; x < width; ++x) {
            to[width - 1 - x] = from[x];
        }
    }
}

} // namespace

std::optional<std::string> OrientedGray::convert(const PixelBuffer& frame, int orientation) {
    if (auto problem = read(frame, orientation)) {
        return problem;
    }
    orient(orientation);
    release();
    return std::nullopt;
}

std::optional<std::string> OrientedGray::borrow(const PixelBuffer& frame, int orientation) {
    if (auto problem = read(frame, orientation)) {
        return problem;
    }
    if (orientation == 1 || orientation == 2 || orientation == 5) {
        asItIs_ = orientation == 1;
        mirrored_ = !asItIs_;
    } else {
        orient(orientation);
    }
    return std::nullopt;
}

void OrientedGray::release() {
    if (asItIs_ || mirrored_) {
        asItIs_ = mirrored_ = false;
        whole_ = false;
        oriented_.release();
    }
    if (borrowsFrame_) {
        gray_.release(); // never keep a view of the caller's buffer
        borrowsFrame_ = false;
    }
}

const cv::Mat& OrientedGray::image() const {
    if (asItIs_) {
        return gray_;
    }
    if (mirrored_ && !whole_) {
        mirror(gray_, oriented_);
        whole_ = true;
    }
    return oriented_;
}

cv::Mat OrientedGray::region(const cv::Rect& rect) const {
    if (!mirrored_ || whole_) {
        return image()(rect);
    }
    const cv::Rect stored(size_.width - rect.x - rect.width, rect.y, rect.width, rect.height);
    mirror(gray_(stored), region_);
    return region_;
}

std::optional<std::string> OrientedGray::read(const PixelBuffer& frame, int orientation) {
    release();
    if (orientation < 1 || orientation > 8) {
        return "unsupported frame orientation " + std::to_string(orientation);
    }
    const int pixelBytes = bytesPerPixel(frame.format);
    constexpr auto maxSide = std::numeric_limits<int>::max() / 4;
    if (frame.data == nullptr || pixelBytes == 0 || frame.width <= 0 || frame.height <= 0 ||
        frame.width > maxSide || frame.height > maxSide ||
        frame.bytesPerRow < static_cast<std::size_t>(frame.width) * pixelBytes) {
        return "unreadable frame (" + std::to_string(frame.width) + " x " +
               std::to_string(frame.height) + ", " + std::to_string(frame.bytesPerRow) +
               " bytes a row)";
    }
    auto* data = const_cast<std::uint8_t*>(frame.data); // wrapped read-only
    const cv::Mat source(frame.height, frame.width, CV_8UC(pixelBytes), data, frame.bytesPerRow);
    switch (frame.format) {
    case PixelFormat::bgra32:
        cv::cvtColor(source, gray_, cv::COLOR_BGRA2GRAY);
        break;
    case PixelFormat::bgr24:
        cv::cvtColor(source, gray_, cv::COLOR_BGR2GRAY);
        break;
    case PixelFormat::gray8:
        gray_ = source; // read in place
        borrowsFrame_ = true;
        break;
    }
    // 5 is the mirror alone (upright cameras); 6 to 8 turn the frame a quarter.
    size_ = orientation >= 6 ? cv::Size(gray_.rows, gray_.cols) : gray_.size();
    return std::nullopt;
}

// Every orientation writes a copy of `gray_`.
void OrientedGray::orient(int orientation) {
    switch (orientation) {
    case 1:
        gray_.copyTo(oriented_);
        break;
    case 2:
    case 5:
        mirror(gray_, oriented_);
        break;
    case 3:
        cv::rotate(gray_, oriented_, cv::ROTATE_180);
        break;
    case 4:
        cv::flip(gray_, oriented_, 0);
        break;
    case 6:
        cv::rotate(gray_, oriented_, cv::ROTATE_90_CLOCKWISE);
        break;
    case 7:
        cv::rotate(gray_, turned_, cv::ROTATE_90_CLOCKWISE);
        cv::flip(turned_, oriented_, 1);
        break;
    case 8:
        cv::rotate(gray_, oriented_, cv::ROTATE_90_COUNTERCLOCKWISE);
        break;
    }
    size_ = oriented_.size();
}

} // namespace orvane::linuxbackend
