#include "backends/linux/camera/ClipFrameSource.hpp"

#include "backends/linux/camera/FrameDecoding.hpp"

#include <cerrno>
#include <cmath>
#include <dlfcn.h>
#include <filesystem>
#include <opencv2/imgproc.hpp>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/macros.h>
#include <libswscale/swscale.h>
}

namespace orvane::linuxbackend {
namespace {

cv::Mat inFormat(cv::Mat image, PixelFormat format) {
    if (format != PixelFormat::gray8 || image.empty()) {
        return image;
    }
    cv::Mat gray;
    cv::cvtColor(image, gray, cv::COLOR_BGR2GRAY);
    return gray;
}

// FFmpeg's libraries, opened at the first clip rather than linked: with what they link in turn
// they are some 130 libraries, which a webcam never needs and which would otherwise all be
// mapped and linked before Orvane's first line runs. The names are those of the headers built
// against, so a library of another major version is never taken for them.
#define ORVANE_FFMPEG_FUNCTIONS(X)                                                                 \
    X(av_log_set_level)                                                                            \
    X(av_dict_set)                                                                                 \
    X(av_dict_free)                                                                                \
    X(av_frame_alloc)                                                                              \
    X(av_frame_free)                                                                               \
    X(av_frame_unref)                                                                              \
    X(av_packet_alloc)                                                                             \
    X(av_packet_free)                                                                              \
    X(av_packet_unref)                                                                             \
    X(avcodec_alloc_context3)                                                                      \
    X(avcodec_free_context)                                                                        \
    X(avcodec_parameters_to_context)                                                               \
    X(avcodec_open2)                                                                               \
    X(avcodec_send_packet)                                                                         \
    X(avcodec_receive_frame)                                                                       \
    X(avformat_open_input)                                                                         \
    X(avformat_find_stream_info)                                                                   \
    X(avformat_close_input)                                                                        \
    X(av_find_best_stream)                                                                         \
    X(av_read_frame)                                                                               \
    X(sws_getCachedContext)                                                                        \
    X(sws_scale)                                                                                   \
    X(sws_freeContext)

struct Ffmpeg {
#define ORVANE_FFMPEG_POINTER(name) decltype(&::name) name = nullptr;
    ORVANE_FFMPEG_FUNCTIONS(ORVANE_FFMPEG_POINTER)
#undef ORVANE_FFMPEG_POINTER
};

constexpr const char* ffmpegLibraries[] = {
    "libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR),
    "libswscale.so." AV_STRINGIFY(LIBSWSCALE_VERSION_MAJOR),
    "libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR),
    "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR),
};

struct LoadedFfmpeg {
    Ffmpeg functions;
    std::string problem; // empty once loaded
};

LoadedFfmpeg loadFfmpeg() {
    LoadedFfmpeg loaded;
    std::vector<void*> handles;
    for (const char* name : ffmpegLibraries) {
        void* handle = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* why = ::dlerror();
            loaded.problem = why != nullptr ? why : name;
            return loaded; // the ones already open stay: dlclose of FFmpeg is not safe
        }
        handles.push_back(handle);
    }
    const auto find = [&handles](const char* name) -> void* {
        for (void* handle : handles) {
            if (void* found = ::dlsym(handle, name)) {
                return found;
            }
        }
        return nullptr;
    };
#define ORVANE_FFMPEG_FIND(name)                                                                   \
    loaded.functions.name = reinterpret_cast<decltype(&::name)>(find(#name));                      \
    if (loaded.functions.name == nullptr) {                                                        \
        loaded.problem = "no " #name " in FFmpeg's libraries";                                     \
        return loaded;                                                                             \
    }
    ORVANE_FFMPEG_FUNCTIONS(ORVANE_FFMPEG_FIND)
#undef ORVANE_FFMPEG_FIND
    // FFmpeg's notes on files it reads anyway would flood the log; its errors still show.
    loaded.functions.av_log_set_level(AV_LOG_ERROR);
    return loaded;
}

// FFmpeg, loaded at the first call; nullptr, and why, when it cannot be.
const Ffmpeg* ffmpeg(std::string* problem) {
    static const LoadedFfmpeg loaded = loadFfmpeg();
    if (!loaded.problem.empty()) {
        *problem = "FFmpeg's libraries, which play recorded clips, cannot be loaded (" +
                   loaded.problem + ")";
        return nullptr;
    }
    return &loaded.functions;
}

} // namespace

struct ClipFrameSource::Video {
    const Ffmpeg& av;
    AVFormatContext* container = nullptr;
    AVCodecContext* decoder = nullptr;
    SwsContext* converter = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    bool still = false;       // an image file rather than a video
    double rate = 0;          // frames a second; 0 when the file does not say
    bool jpegPackets = false; // decoded here, not by FFmpeg

    explicit Video(const Ffmpeg& functions) : av(functions) {}
    Video(const Video&) = delete;
    Video& operator=(const Video&) = delete;
    ~Video() {
        av.sws_freeContext(converter);
        av.av_frame_free(&frame);
        av.av_packet_free(&packet);
        av.avcodec_free_context(&decoder);
        av.avformat_close_input(&container);
    }

    // The file as a video or an image; nullptr when it is neither.
    static std::unique_ptr<Video> open(const Ffmpeg& av, const std::string& path,
                                       PixelFormat format) {
        auto video = std::make_unique<Video>(av);
        AVDictionary* options = nullptr;
        // A clip is one local file: a playlist inside it may name no other file or address,
        // and a '%' in its name is no numbered sequence.
        av.av_dict_set(&options, "protocol_whitelist", "file", 0);
        av.av_dict_set(&options, "pattern_type", "none", 0);
        const std::string url = "file:" + path;
        const int opened =
            av.avformat_open_input(&video->container, url.c_str(), nullptr, &options);
        av.av_dict_free(&options);
        if (opened < 0 || av.avformat_find_stream_info(video->container, nullptr) < 0) {
            return nullptr;
        }
        const AVCodec* codec = nullptr;
        video->stream =
            av.av_find_best_stream(video->container, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        if (video->stream < 0 || codec == nullptr) {
            return nullptr;
        }
        const AVStream* stream = video->container->streams[video->stream];
        video->decoder = av.avcodec_alloc_context3(codec);
        video->packet = av.av_packet_alloc();
        video->frame = av.av_frame_alloc();
        if (video->decoder == nullptr || video->packet == nullptr || video->frame == nullptr ||
            av.avcodec_parameters_to_context(video->decoder, stream->codecpar) < 0 ||
            av.avcodec_open2(video->decoder, codec, nullptr) < 0) {
            return nullptr;
        }
        const std::string_view demuxer = video->container->iformat->name;
        video->still = demuxer == "image2" || demuxer.ends_with("_pipe");
        const AVRational rate =
            stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
        video->rate = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
        // Motion-JPEG wanted in grey is decoded from its packets: no chroma planes and no
        // colour conversion, a fraction of the work of FFmpeg decoding it to colour.
        video->jpegPackets = format == PixelFormat::gray8 && !video->still &&
                             stream->codecpar->codec_id == AV_CODEC_ID_MJPEG;
        return video;
    }

    // The next frame in `format`, or an empty matrix at the end or on a failure. JPEG packets
    // decoded here come at 1/`scale` of their size, and with no scale are not decoded at all:
    // the result then only says that the video goes on.
    // The rows of the last frame decoded here, the rest black; 0: all of them.
    int pictureRows = 0;

    cv::Mat read(PixelFormat format, std::optional<int> scale = 1, double topRows = 1) {
        pictureRows = 0;
        for (;;) {
            const int received = av.avcodec_receive_frame(decoder, frame);
            if (received == 0) {
                auto image = scale ? inFormat(toBgr(), format) : passedOver();
                av.av_frame_unref(frame);
                return image;
            }
            if (received != AVERROR(EAGAIN)) {
                return {}; // the end, or a decoder that gave up
            }
            if (av.av_read_frame(container, packet) < 0) {
                // What the decoder still holds comes out before its end.
                if (av.avcodec_send_packet(decoder, nullptr) < 0) {
                    return {};
                }
                continue;
            }
            if (packet->stream_index != stream) {
                av.av_packet_unref(packet);
                continue;
            }
            if (jpegPackets && !scale) {
                av.av_packet_unref(packet);
                return passedOver();
            }
            if (jpegPackets) {
                auto decoded = decodeJpeg(packet->data, static_cast<std::size_t>(packet->size),
                                          *scale, topRows, pictureRows);
                if (!decoded.empty()) {
                    av.av_packet_unref(packet);
                    return decoded;
                }
                // Packets that are no JPEG of their own (some cameras leave out the Huffman
                // tables): FFmpeg decodes them from here on, this one first.
                jpegPackets = false;
            }
            // A damaged packet is skipped: the next may decode.
            av.avcodec_send_packet(decoder, packet);
            av.av_packet_unref(packet);
        }
    }

private:
    static cv::Mat passedOver() { return cv::Mat(1, 1, CV_8UC1, cv::Scalar(0)); }

    static cv::Mat decodeJpeg(const std::uint8_t* data, std::size_t size, int scale, double topRows,
                              int& pictureRows) {
        // Containers pad their packets: the JPEG ends at its end-of-image marker, and the
        // decoder warns on stderr about any bytes after it.
        for (std::size_t end = size; end >= 2 && size - end < 16; --end) {
            if (data[end - 2] == 0xFF && data[end - 1] == 0xD9) {
                size = end;
                break;
            }
        }
        return FrameDecoding::decodeMjpeg(data, size, PixelFormat::gray8, scale, topRows,
                                          &pictureRows);
    }

    // Colour as OpenCV's reader gave it: FFmpeg's converter with its flags.
    cv::Mat toBgr() {
        converter = av.sws_getCachedContext(
            converter, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
            frame->width, frame->height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (converter == nullptr) {
            return {};
        }
        cv::Mat image(frame->height, frame->width, CV_8UC3);
        std::uint8_t* planes[4] = {image.data, nullptr, nullptr, nullptr};
        int strides[4] = {static_cast<int>(image.step[0]), 0, 0, 0};
        av.sws_scale(converter, frame->data, frame->linesize, 0, frame->height, planes, strides);
        return image;
    }
};

ClipFrameSource::ClipFrameSource(std::string path, PixelFormat format)
    : path_(std::move(path)), format_(format) {}

ClipFrameSource::~ClipFrameSource() = default;

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
    std::string unavailable;
    const Ffmpeg* av = ffmpeg(&unavailable);
    if (av == nullptr) {
        return named(unavailable);
    }
    try {
        auto video = Video::open(*av, path_, format_);
        if (video && video->still) {
            still_ = video->read(format_);
            if (still_.empty()) {
                return named("the image cannot be decoded");
            }
            framesPerSecond_ = stillFramesPerSecond;
            size_ = still_.size();
            return std::nullopt;
        }
        if (video) {
            firstFrame_ = video->read(format_);
        }
        if (firstFrame_.empty()) {
            return named("neither a video nor an image that can be decoded");
        }
        framesPerSecond_ = std::isfinite(video->rate) && video->rate > 0 && video->rate <= 1000
                               ? video->rate
                               : fallbackFramesPerSecond;
        size_ = firstFrame_.size();
        video_ = std::move(video);
    } catch (const std::exception& exception) {
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

cv::Mat ClipFrameSource::nextImage(std::optional<int> scale, double topRows, int& pictureRows) {
    pictureRows = 0;
    if (!still_.empty()) {
        return still_; // shared, never written: consumers see it read-only
    }
    if (!firstFrame_.empty()) {
        auto image = std::exchange(firstFrame_, cv::Mat());
        if (scale && *scale > 1) {
            // Read whole by `load`: sized as the packets after it will be.
            cv::resize(
                image, image,
                cv::Size((image.cols + *scale - 1) / *scale, (image.rows + *scale - 1) / *scale), 0,
                0, cv::INTER_AREA);
        }
        return image;
    }
    try {
        if (auto image = video_->read(format_, scale, topRows); !image.empty()) {
            pictureRows = video_->pictureRows;
            return image;
        }
        // At the end: start over. Reopening works for every container, seeking does not.
        if (auto reopened = Video::open(video_->av, path_, format_)) {
            video_ = std::move(reopened);
            auto image = video_->read(format_, scale, topRows);
            pictureRows = video_->pictureRows;
            return image;
        }
    } catch (const std::exception&) {
    }
    return {};
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
    if (scale && (!video_ || !video_->jpegPackets)) {
        scale = 1;
    }
    int pictureRows = 0;
    cv::Mat image = nextImage(scale, pacer.topRows(), pictureRows);
    if (image.empty()) {
        return {std::nullopt, true}; // the file went away or broke while playing
    }
    if (!scale) {
        return {};
    }
    return {CameraFrame{std::move(image), format_, pictureRows}, false};
}

} // namespace orvane::linuxbackend
