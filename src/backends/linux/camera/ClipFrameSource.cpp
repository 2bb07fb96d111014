#include "backends/linux/camera/ClipFrameSource.hpp"

#include "backends/linux/camera/FrameDecoding.hpp"

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <system_error>
#include <unistd.h>

namespace orvane::linuxbackend {

ClipFrameSource::ClipFrameSource(std::string path, PixelFormat format)
    : path_(std::move(path)), format_(format) {}

std::optional<std::string> ClipFrameSource::load() {
    const auto named = [this](const std::string& why) {
        return path_ + ": " + why;
    };
    std::error_code error;
    if (std::filesystem::is_directory(path_, error)) {
        return named(std::system_category().message(EISDIR));
    }
    if (::access(path_.c_str(), R_OK) != 0) {
        return named(std::system_category().message(errno));
    }
    try {
        // Checked first: the video readers would also take a JPEG, as a one-frame video.
        if (cv::haveImageReader(path_)) {
            still_ = inOutputFormat(cv::imread(path_, cv::IMREAD_COLOR));
            if (still_.empty()) {
                return named("the image cannot be decoded");
            }
            framesPerSecond_ = stillFramesPerSecond;
            size_ = still_.size();
            return std::nullopt;
        }
        // FFmpeg reads every common container; OpenCV's own reader covers Motion-JPEG AVI
        // without it. The other back-ends are slow to give up on a file that is no video.
        for (const int backend : {cv::CAP_FFMPEG, cv::CAP_OPENCV_MJPEG}) {
            if (video_.open(path_, backend) && video_.read(firstFrame_) && !firstFrame_.empty()) {
                backend_ = backend;
                break;
            }
            video_.release();
        }
        if (firstFrame_.empty()) {
            return named("neither a video nor an image that can be decoded");
        }
        size_ = firstFrame_.size();
        rawPackets_ = decodesPacketsItself();
        const double reported = video_.get(cv::CAP_PROP_FPS);
        framesPerSecond_ = std::isfinite(reported) && reported > 0 && reported <= 1000
                               ? reported
                               : fallbackFramesPerSecond;
    } catch (const cv::Exception& exception) {
        return named(exception.what());
    }
    return std::nullopt;
}

std::optional<FrameRateRange> ClipFrameSource::frameRateRange() const {
    return FrameRateRange{1 / framesPerSecond_, 1 / framesPerSecond_};
}

std::optional<std::string> ClipFrameSource::setFrameDuration(double) {
    return std::nullopt;
}

std::optional<std::string> ClipFrameSource::startStreaming() {
    nextDue_ = std::chrono::steady_clock::now();
    return std::nullopt;
}

cv::Mat ClipFrameSource::inOutputFormat(cv::Mat image) const {
    if (format_ != PixelFormat::gray8 || image.empty()) {
        return image;
    }
    cv::Mat gray;
    cv::cvtColor(image, gray, cv::COLOR_BGR2GRAY);
    return gray;
}

cv::Mat ClipFrameSource::nextImage(std::optional<int> scale) {
    if (!still_.empty()) {
        return still_; // shared, never written: consumers see it read-only
    }
    if (!firstFrame_.empty()) {
        auto image = inOutputFormat(std::exchange(firstFrame_, cv::Mat()));
        if (scale && *scale > 1 && rawPackets_) {
            // Read whole by `load`: sized as the packets after it will be.
            cv::resize(
                image, image,
                cv::Size((image.cols + *scale - 1) / *scale, (image.rows + *scale - 1) / *scale), 0,
                0, cv::INTER_AREA);
        }
        return image;
    }
    try {
        if (auto image = readVideo(scale); !image.empty()) {
            return image;
        }
        // At the end: start over. Reopening works for every container, seeking does not.
        if (video_.open(path_, backend_)) {
            if (rawPackets_ && !video_.set(cv::CAP_PROP_FORMAT, -1)) {
                rawPackets_ = false;
            }
            return readVideo(scale);
        }
    } catch (const cv::Exception&) {
    }
    return {};
}

bool ClipFrameSource::decodesPacketsItself() {
    const auto fourcc = static_cast<int>(video_.get(cv::CAP_PROP_FOURCC));
    return format_ == PixelFormat::gray8 && backend_ == cv::CAP_FFMPEG &&
           fourcc == cv::VideoWriter::fourcc('M', 'J', 'P', 'G') &&
           video_.set(cv::CAP_PROP_FORMAT, -1);
}

cv::Mat ClipFrameSource::readVideo(std::optional<int> scale) {
    if (!scale) {
        // Only the packet is read. The result just has to say the video goes on.
        return video_.grab() ? cv::Mat(1, 1, CV_8UC1, cv::Scalar(0)) : cv::Mat();
    }
    // A fresh matrix every time: the last one may still be waiting on the queue.
    cv::Mat image;
    if (!video_.read(image) || image.empty()) {
        return {};
    }
    if (!rawPackets_) {
        return inOutputFormat(image);
    }
    const std::uint8_t* data = image.data;
    std::size_t size = image.total() * image.elemSize();
    // Containers pad their packets: the JPEG ends at its end-of-image marker, and the decoder
    // warns on stderr about any bytes after it.
    for (std::size_t end = size; end >= 2 && size - end < 16; --end) {
        if (data[end - 2] == 0xFF && data[end - 1] == 0xD9) {
            size = end;
            break;
        }
    }
    auto decoded = FrameDecoding::decodeMjpeg(data, size, PixelFormat::gray8, *scale);
    if (decoded.empty()) {
        // Packets that are no JPEG of their own (some cameras leave out the Huffman tables):
        // FFmpeg decodes them from here on, starting with the same frame next time round.
        rawPackets_ = false;
        video_.open(path_, backend_);
        return readVideo(scale);
    }
    return decoded;
}

FrameRead ClipFrameSource::readFrame(const std::stop_token& stop, FramePacer& pacer) {
    {
        std::unique_lock lock(waitMutex_);
        wake_.wait_until(lock, stop, nextDue_, [] { return false; });
    }
    if (stop.stop_requested()) {
        return {};
    }
    const auto now = std::chrono::steady_clock::now();
    const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(1 / framesPerSecond_));
    nextDue_ += period;
    if (nextDue_ <= now) {
        nextDue_ = now + period;
    }
    // Only packets this source decodes itself are decoded smaller; the rest come whole.
    auto scale = pacer.admit(now, size_.width, size_.height);
    if (scale && (!rawPackets_ || !still_.empty())) {
        scale = 1;
    }
    cv::Mat image = nextImage(scale);
    if (image.empty()) {
        return {std::nullopt, true}; // the file went away or broke while playing
    }
    if (!scale) {
        return {};
    }
    return {CameraFrame{std::move(image), format_}, false};
}

} // namespace orvane::linuxbackend
