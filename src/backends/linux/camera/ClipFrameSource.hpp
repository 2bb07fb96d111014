#pragma once

#include "backends/linux/camera/FrameSource.hpp"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <opencv2/core.hpp>
#include <string>

namespace orvane::linuxbackend {

// A recorded clip standing in for a camera: a video plays at its own rate and starts over at
// its end; a still image is delivered again and again. Nothing is held exclusively, so any
// number of sessions may play one file. Read with FFmpeg's own libraries: OpenCV's video and
// image readers bring some two hundred further libraries into the process, half its resident
// memory and most of its start-up, for clips that only tests and demonstrations play.
class ClipFrameSource : public FrameSource {
public:
    ~ClipFrameSource() override;
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
    // Paced on the steady clock; a consumer that falls behind gets no burst to catch up. A
    // Motion-JPEG video decoded from its packets decodes only the frames `pacer` keeps, at its
    // scale; other clips are decoded whole, and the frames passed over are not delivered.
    FrameRead readFrame(const std::stop_token& stop, FramePacer& pacer) override;
    // Keeps the place in the video: a restart goes on from there.
    void stopStreaming() override {}

private:
    struct Video; // the file's demuxer and decoder

    // The next frame at 1/`scale` of its size where that is cheap, else whole; with no scale,
    // the place in the clip moves on without a decode where it can. Empty at a failure.
    // `pictureRows`: the rows decoded from the top, the rest black; 0: all of them.
    cv::Mat nextImage(std::optional<int> scale, double topRows, int& pictureRows);

    std::string path_;
    PixelFormat format_;
    double framesPerSecond_ = stillFramesPerSecond;
    cv::Mat still_;
    std::unique_ptr<Video> video_;
    cv::Mat firstFrame_; // read by `load` to prove the video plays
    cv::Size size_;      // of the clip's frames, whole
    std::chrono::steady_clock::time_point nextDue_;
    std::mutex waitMutex_;
    std::condition_variable_any wake_;
};

} // namespace orvane::linuxbackend
