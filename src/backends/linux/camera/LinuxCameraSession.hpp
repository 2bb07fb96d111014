#pragma once

#include "backends/linux/camera/FrameSource.hpp"
#include "backends/linux/camera/NewestFramePoster.hpp"
#include "orvane/platform/CameraService.hpp"

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <variant>

namespace orvane::linuxbackend {

// A capture session over one frame source at a time, read on a streaming thread of its own.
// Configuration comes from the main thread, start and stop from the camera queue; one mutex
// orders them.
class LinuxCameraSession : public CameraSession {
public:
    // Opens the source for a device: the source, or why it could not be opened.
    using SourceOpener =
        std::function<std::variant<std::unique_ptr<FrameSource>, std::string>(const CameraDevice&)>;
    // Where a failure to start streaming goes (no caller is there to hear it).
    using ProblemReporter = std::function<void(const std::string&)>;

    LinuxCameraSession(SourceOpener openSource, ProblemReporter reportProblem);
    // Stops streaming and lets go of the device.
    ~LinuxCameraSession() override;

    OpenResult open(const CameraDevice& device) override;
    std::optional<FrameRateRange> firstFrameRateRange() override;
    std::optional<std::string> setFrameDuration(double seconds) override;
    void setFrameHandler(std::shared_ptr<SerialQueue> queue,
                         std::function<void(const PixelBuffer&)> handler) override;
    void setFrameDemand(const FrameDemand& demand) override;
    void startRunning() override;
    // Returns once the streaming thread has ended and the device is free for another session.
    void stopRunning() override;

    // Frames the demand let go undecoded. Any thread.
    std::int64_t framesSkipped() const { return pacer_.framesSkipped(); }

private:
    void stopStreamingLocked();

    std::mutex mutex_;
    SourceOpener openSource_;
    ProblemReporter reportProblem_;
    std::unique_ptr<FrameSource> source_;
    NewestFramePoster poster_;
    FramePacer pacer_;
    std::jthread streamer_;
};

} // namespace orvane::linuxbackend
