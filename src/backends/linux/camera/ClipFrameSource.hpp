#pragma once

#include "backends/linux/camera/FrameSource.hpp"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <opencv2/videoio.hpp>
#include <string>

namespace orvane::linuxbackend {

// A recorded clip standing in for a camera: a video plays at its own rate and starts over at
// its end; a still image is delivered again and again. Nothing is held exclusively, so any
// number of sessions may play one file.
class ClipFrameSource : public FrameSource {
public:
    static constexpr double stillFramesPerSecond = 30;
    // For videos that do not say their rate.
    static constexpr double fallbackFramesPerSecond = 30;

    ClipFrameSource(std::string path, PixelFormat format);

    // Opens the file and reads its first frame. On failure: why, naming the file.
    std::optional<std::string> load();
    double framesPerSecond() const { return framesPerSecond_; }

    // Exactly the clip's own rate.
    std::optional<FrameRateRange> frameRateRange() const override;
    // Accepted, and the clip keeps its own rate: its range offers no other.
    std::optional<std::string> setFrameDuration(double seconds) override;
    std::optional<std::string> startStreaming() override;
    // Paced on the steady clock; a consumer that falls behind gets no burst to catch up.
    FrameRead readFrame(const std::stop_token& stop) override;
    // Keeps the place in the video: a restart goes on from there.
    void stopStreaming() override {}

private:
    cv::Mat nextImage();
    cv::Mat inOutputFormat(cv::Mat image) const;
    // The next frame of the video, or an empty matrix at its end or on a failure.
    cv::Mat readVideo();
    // Whether the video's packets are JPEG images this source may decode itself.
    bool decodesPacketsItself();

    std::string path_;
    PixelFormat format_;
    double framesPerSecond_ = stillFramesPerSecond;
    cv::Mat still_;
    cv::VideoCapture video_;
    int backend_ = cv::CAP_ANY;
    // Motion-JPEG wanted in grey is decoded from its packets: no chroma planes and no colour
    // conversion, a fraction of the work of FFmpeg decoding it to colour.
    bool rawPackets_ = false;
    cv::Mat firstFrame_; // read by `load` to prove the video plays
    std::chrono::steady_clock::time_point nextDue_;
    std::mutex waitMutex_;
    std::condition_variable_any wake_;
};

} // namespace orvane::linuxbackend
