#pragma once

#include "backends/linux/camera/FrameSource.hpp"
#include "backends/linux/camera/V4l2Io.hpp"

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace orvane::linuxbackend {

// Frames from a V4L2 node: 1280 x 720 Motion-JPEG, else YUYV, through mmap streaming.
class V4l2FrameSource : public FrameSource {
public:
    static constexpr int wantedWidth = 1280;
    static constexpr int wantedHeight = 720;
    static constexpr std::uint32_t bufferCount = 4;

    // `releaseTimeout` bounds the wait for another session of this process to let go of the
    // node. `format` is what frames are decoded to.
    V4l2FrameSource(std::shared_ptr<V4l2Io> io, std::string path,
                    std::chrono::milliseconds releaseTimeout, PixelFormat format);
    ~V4l2FrameSource() override;
    V4l2FrameSource(const V4l2FrameSource&) = delete;
    V4l2FrameSource& operator=(const V4l2FrameSource&) = delete;

    // Claims and opens the node and sets its format. On failure: why, in the system's words.
    std::optional<std::string> acquire();

    std::optional<FrameRateRange> frameRateRange() const override { return range_; }
    std::optional<std::string> setFrameDuration(double seconds) override;
    std::optional<std::string> startStreaming() override;
    // A buffer `pacer` passes over goes back to the driver undecoded. Motion-JPEG is decoded at
    // the pacer's scale; YUYV, cheap to read at any size, whole.
    FrameRead readFrame(const std::stop_token& stop, FramePacer& pacer) override;
    void stopStreaming() override;

    // The negotiated format: a V4L2 fourcc and size.
    std::uint32_t pixelFormat() const { return pixelFormat_; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    struct Buffer {
        void* start = nullptr;
        std::size_t length = 0;
    };
    std::optional<std::string> configure();
    std::optional<std::uint32_t> chooseFormat();
    bool offersWantedSize(std::uint32_t format);
    std::optional<FrameRateRange> readFrameRateRange();
    std::optional<std::string> applyFrameDuration(double seconds);
    std::optional<std::string> mapBuffers();
    void unmapBuffers();
    void release();
    std::string failure(int error) const;

    std::shared_ptr<V4l2Io> io_;
    std::string path_;
    std::chrono::milliseconds releaseTimeout_;
    PixelFormat outputFormat_;
    int fd_ = -1;
    bool claimed_ = false;
    bool streaming_ = false;
    std::uint32_t pixelFormat_ = 0;
    int width_ = 0;
    int height_ = 0;
    std::size_t bytesPerLine_ = 0;
    std::optional<FrameRateRange> range_;
    std::optional<double> frameDuration_;
    std::vector<Buffer> buffers_;
};

} // namespace orvane::linuxbackend
