#pragma once

#include "backends/linux/camera/FramePacer.hpp"
#include "orvane/platform/CameraService.hpp"

#include <opencv2/core.hpp>
#include <optional>
#include <stop_token>
#include <string>

namespace orvane::linuxbackend {

// One decoded frame.
struct CameraFrame {
    cv::Mat image;
    PixelFormat format = PixelFormat::bgr24;
    int pictureRows = 0; // decoded from the top, the rest black; 0: all
};

struct FrameRead {
    std::optional<CameraFrame> frame; // none when nothing came in time or a frame was bad
    bool ended = false;               // the source failed for good (unplugged, unreadable)
};

// Where a session's frames come from: a V4L2 node or a recorded clip. Configured while not
// streaming; `readFrame` runs on the session's streaming thread only.
class FrameSource {
public:
    virtual ~FrameSource() = default;

    virtual std::optional<FrameRateRange> frameRateRange() const = 0;
    // On failure: why, in the system's words.
    virtual std::optional<std::string> setFrameDuration(double seconds) = 0;

    // Takes hold of the device again if a stop let go of it, and starts it delivering.
    virtual std::optional<std::string> startStreaming() = 0;
    // Waits for the next frame, briefly: returns without one now and then so that the caller
    // can see `stop`. A frame `pacer` passes over is not decoded, and one it keeps may be
    // decoded at the scale it gives, where that saves work.
    virtual FrameRead readFrame(const std::stop_token& stop, FramePacer& pacer) = 0;
    // Stops delivering and lets go of the device, so that another session may open it.
    virtual void stopStreaming() = 0;
};

} // namespace orvane::linuxbackend
