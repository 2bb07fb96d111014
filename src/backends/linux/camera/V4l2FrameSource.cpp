#include "backends/linux/camera/V4l2FrameSource.hpp"

#include "backends/linux/camera/DeviceRegistry.hpp"
#include "backends/linux/camera/FrameDecoding.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <linux/videodev2.h>
#include <numeric>
#include <set>
#include <sys/mman.h>
#include <system_error>

namespace orvane::linuxbackend {

namespace {

// Enumerations end with EINVAL; a driver that never ends them must not hang us.
constexpr std::uint32_t enumerationLimit = 256;

// How long one wait for a buffer lasts, so that a stop is seen promptly.
constexpr int pollMilliseconds = 100;

// Frame durations go to the driver as a fraction over this time scale.
constexpr std::int64_t durationTimeScale = 600;

double seconds(const v4l2_fract& fraction) {
    return static_cast<double>(fraction.numerator) / static_cast<double>(fraction.denominator);
}

} // namespace

V4l2FrameSource::V4l2FrameSource(std::shared_ptr<V4l2Io> io, std::string path,
                                 std::chrono::milliseconds releaseTimeout, PixelFormat format)
    : io_(std::move(io)), path_(std::move(path)), releaseTimeout_(releaseTimeout),
      outputFormat_(format) {}

V4l2FrameSource::~V4l2FrameSource() {
    stopStreaming();
}

std::string V4l2FrameSource::failure(int error) const {
    return std::system_category().message(error);
}

std::optional<std::string> V4l2FrameSource::acquire() {
    if (fd_ >= 0) {
        return std::nullopt;
    }
    if (!DeviceRegistry::processWide().claim(path_, releaseTimeout_)) {
        return failure(EBUSY);
    }
    claimed_ = true;
    fd_ = io_->open(path_);
    if (fd_ < 0) {
        const int error = errno;
        release();
        return failure(error);
    }
    if (auto problem = configure()) {
        release();
        return problem;
    }
    return std::nullopt;
}

bool V4l2FrameSource::offersWantedSize(std::uint32_t format) {
    v4l2_frmsizeenum size{};
    size.pixel_format = format;
    for (size.index = 0; size.index < enumerationLimit; ++size.index) {
        if (io_->ioctl(fd_, VIDIOC_ENUM_FRAMESIZES, &size) != 0) {
            return false;
        }
        if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            if (size.discrete.width == wantedWidth && size.discrete.height == wantedHeight) {
                return true;
            }
            continue;
        }
        const auto& range = size.stepwise;
        const auto fits = [](std::uint32_t wanted, std::uint32_t min, std::uint32_t max,
                             std::uint32_t step) {
            return wanted >= min && wanted <= max && (step == 0 || (wanted - min) % step == 0);
        };
        return fits(wantedWidth, range.min_width, range.max_width, range.step_width) &&
               fits(wantedHeight, range.min_height, range.max_height, range.step_height);
    }
    return false;
}

std::optional<std::uint32_t> V4l2FrameSource::chooseFormat() {
    std::set<std::uint32_t> offered;
    v4l2_fmtdesc description{};
    description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (description.index = 0; description.index < enumerationLimit; ++description.index) {
        if (io_->ioctl(fd_, VIDIOC_ENUM_FMT, &description) != 0) {
            break;
        }
        offered.insert(description.pixelformat);
    }
    // Many webcams give 720p only compressed; raw YUYV is the fallback every UVC camera has.
    const std::uint32_t preference[] = {V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_YUYV};
    for (auto format : preference) {
        if (offered.count(format) != 0 && offersWantedSize(format)) {
            return format;
        }
    }
    for (auto format : preference) {
        if (offered.count(format) != 0) {
            return format;
        }
    }
    return std::nullopt;
}

std::optional<std::string> V4l2FrameSource::configure() {
    const auto chosen = chooseFormat();
    if (!chosen) {
        return "The camera offers neither Motion-JPEG nor YUYV video.";
    }
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = wantedWidth;
    format.fmt.pix.height = wantedHeight;
    format.fmt.pix.pixelformat = *chosen;
    format.fmt.pix.field = V4L2_FIELD_ANY;
    if (io_->ioctl(fd_, VIDIOC_S_FMT, &format) != 0) {
        return failure(errno);
    }
    const auto& pix = format.fmt.pix;
    if (pix.pixelformat != V4L2_PIX_FMT_MJPEG && pix.pixelformat != V4L2_PIX_FMT_YUYV) {
        return "The camera offers neither Motion-JPEG nor YUYV video.";
    }
    // The driver answers with the nearest size it has; frames carry whatever that is.
    pixelFormat_ = pix.pixelformat;
    width_ = static_cast<int>(pix.width);
    height_ = static_cast<int>(pix.height);
    bytesPerLine_ = std::max<std::size_t>(pix.bytesperline, std::size_t{pix.width} * 2);
    range_ = readFrameRateRange();
    if (frameDuration_) {
        applyFrameDuration(*frameDuration_); // a rate that took before takes again
    }
    return std::nullopt;
}

std::optional<FrameRateRange> V4l2FrameSource::readFrameRateRange() {
    v4l2_frmivalenum interval{};
    interval.pixel_format = pixelFormat_;
    interval.width = static_cast<std::uint32_t>(width_);
    interval.height = static_cast<std::uint32_t>(height_);
    std::optional<FrameRateRange> range;
    for (interval.index = 0; interval.index < enumerationLimit; ++interval.index) {
        if (io_->ioctl(fd_, VIDIOC_ENUM_FRAMEINTERVALS, &interval) != 0) {
            break;
        }
        if (interval.type != V4L2_FRMIVAL_TYPE_DISCRETE) {
            if (interval.stepwise.min.denominator == 0 || interval.stepwise.max.denominator == 0) {
                break;
            }
            return FrameRateRange{seconds(interval.stepwise.min), seconds(interval.stepwise.max)};
        }
        if (interval.discrete.denominator == 0) {
            continue;
        }
        // A list of fixed rates reads as the span they cover; the driver picks the nearest.
        const double duration = seconds(interval.discrete);
        if (!range) {
            range = FrameRateRange{duration, duration};
        }
        range->minFrameDuration = std::min(range->minFrameDuration, duration);
        range->maxFrameDuration = std::max(range->maxFrameDuration, duration);
    }
    return range;
}

std::optional<std::string> V4l2FrameSource::setFrameDuration(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0 || seconds > 3600) {
        return "The frame duration is out of range.";
    }
    if (fd_ < 0) {
        frameDuration_ = seconds; // applied when the node is opened again
        return std::nullopt;
    }
    auto problem = applyFrameDuration(seconds);
    if (problem) {
        frameDuration_.reset();
    } else {
        frameDuration_ = seconds;
    }
    return problem;
}

std::optional<std::string> V4l2FrameSource::applyFrameDuration(double seconds) {
    v4l2_streamparm parameters{};
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (io_->ioctl(fd_, VIDIOC_G_PARM, &parameters) != 0) {
        return failure(errno);
    }
    if ((parameters.parm.capture.capability & V4L2_CAP_TIMEPERFRAME) == 0) {
        return "The camera does not let its frame rate be set.";
    }
    auto numerator =
        std::max<std::int64_t>(1, std::llround(seconds * static_cast<double>(durationTimeScale)));
    auto denominator = durationTimeScale;
    const auto divisor = std::gcd(numerator, denominator);
    numerator /= divisor;
    denominator /= divisor;
    parameters.parm.capture.timeperframe.numerator = static_cast<std::uint32_t>(numerator);
    parameters.parm.capture.timeperframe.denominator = static_cast<std::uint32_t>(denominator);
    if (io_->ioctl(fd_, VIDIOC_S_PARM, &parameters) != 0) {
        return failure(errno);
    }
    return std::nullopt;
}

std::optional<std::string> V4l2FrameSource::mapBuffers() {
    v4l2_requestbuffers request{};
    request.count = bufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (io_->ioctl(fd_, VIDIOC_REQBUFS, &request) != 0) {
        return failure(errno);
    }
    if (request.count == 0) {
        return failure(ENOMEM);
    }
    for (std::uint32_t index = 0; index < request.count; ++index) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = index;
        if (io_->ioctl(fd_, VIDIOC_QUERYBUF, &buffer) != 0) {
            const int error = errno;
            unmapBuffers();
            return failure(error);
        }
        void* start = io_->mmap(fd_, buffer.length, buffer.m.offset);
        if (start == MAP_FAILED) {
            const int error = errno;
            unmapBuffers();
            return failure(error);
        }
        buffers_.push_back({start, buffer.length});
        if (io_->ioctl(fd_, VIDIOC_QBUF, &buffer) != 0) {
            const int error = errno;
            unmapBuffers();
            return failure(error);
        }
    }
    return std::nullopt;
}

void V4l2FrameSource::unmapBuffers() {
    for (const auto& buffer : buffers_) {
        io_->munmap(buffer.start, buffer.length);
    }
    buffers_.clear();
    v4l2_requestbuffers none{};
    none.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    none.memory = V4L2_MEMORY_MMAP;
    io_->ioctl(fd_, VIDIOC_REQBUFS, &none);
}

std::optional<std::string> V4l2FrameSource::startStreaming() {
    if (streaming_) {
        return std::nullopt;
    }
    if (auto problem = acquire()) {
        return problem;
    }
    auto problem = mapBuffers();
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (!problem && io_->ioctl(fd_, VIDIOC_STREAMON, &type) != 0) {
        problem = failure(errno);
        unmapBuffers();
    }
    if (problem) {
        release(); // a session that cannot stream must not keep others from the camera
        return problem;
    }
    streaming_ = true;
    return std::nullopt;
}

FrameRead V4l2FrameSource::readFrame(const std::stop_token&, FramePacer& pacer) {
    if (!streaming_) {
        return {std::nullopt, true};
    }
    const int ready = io_->poll(fd_, pollMilliseconds);
    if (ready == 0 || (ready < 0 && errno == EINTR)) {
        return {};
    }
    if (ready < 0) {
        return {std::nullopt, true};
    }
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    if (io_->ioctl(fd_, VIDIOC_DQBUF, &buffer) != 0) {
        // EIO is a lost frame (a glitch on the bus); anything else means the node is gone.
        return {std::nullopt, errno != EAGAIN && errno != EIO};
    }
    if (buffer.index >= buffers_.size()) {
        return {std::nullopt, true};
    }
    FrameRead read;
    const bool intact = (buffer.flags & V4L2_BUF_FLAG_ERROR) == 0 && buffer.bytesused > 0;
    const auto scale =
        intact ? pacer.admit(std::chrono::steady_clock::now(), width_, height_) : std::nullopt;
    if (scale) {
        // Decoded straight from the driver's buffer; it goes back right after.
        const auto& mapped = buffers_[buffer.index];
        const auto* data = static_cast<const std::uint8_t*>(mapped.start);
        const auto size = std::min<std::size_t>(buffer.bytesused, mapped.length);
        int rows = 0;
        cv::Mat image = pixelFormat_ == V4L2_PIX_FMT_MJPEG
                            ? FrameDecoding::decodeMjpeg(data, size, outputFormat_, *scale,
                                                         pacer.topRows(), &rows)
                            : FrameDecoding::decodeYuyv(data, size, width_, height_, bytesPerLine_,
                                                        outputFormat_);
        if (!image.empty()) {
            read.frame = CameraFrame{std::move(image), outputFormat_, rows};
        }
    }
    io_->ioctl(fd_, VIDIOC_QBUF, &buffer); // a buffer lost here shows as a failed poll later
    return read;
}

void V4l2FrameSource::stopStreaming() {
    if (streaming_) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        io_->ioctl(fd_, VIDIOC_STREAMOFF, &type);
        streaming_ = false;
    }
    if (!buffers_.empty()) {
        unmapBuffers();
    }
    release();
}

void V4l2FrameSource::release() {
    if (fd_ >= 0) {
        io_->close(fd_);
        fd_ = -1;
    }
    if (claimed_) {
        DeviceRegistry::processWide().release(path_);
        claimed_ = false;
    }
}

} // namespace orvane::linuxbackend
