#pragma once

#include "orvane/platform/CameraService.hpp"
#include "orvane/platform/SerialQueue.hpp"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

// One camera session turned into a slow, steady stream of frames: at most about 15 a second
// reach `onFrame`, on the capture's own serial queue, whatever the camera delivers. Set-up
// failures come back as short sentences for people. Main thread, except where noted.
class CameraCapture {
public:
    static constexpr double targetFPS = 15;
    // 0.97 x 1/15 s: a steady 15 fps passes whole, anything faster is thinned.
    static constexpr double minimumSpacing = 0.97 / targetFPS;
    // Under a demand for fewer frames, the throttle's spacing is this fraction of the demanded
    // period: looser than the session's own, so that a frame the session kept is not dropped
    // here for coming a little early.
    static constexpr double demandedSpacing = 0.9;

    using FrameHandler = std::function<void(const PixelBuffer&)>;
    using ErrorHandler = std::function<void(const std::string&)>;

    // Owned through a shared pointer: tasks on the queue hold the capture weakly.
    static std::shared_ptr<CameraCapture> make();
    // A capture still running is stopped; no frame reaches `onFrame` once this returns.
    ~CameraCapture();
    CameraCapture(const CameraCapture&) = delete;
    CameraCapture& operator=(const CameraCapture&) = delete;

    // Opens the camera with this unique identifier, else the first one (a stale identifier is
    // no error), caps its rate and starts it. Does nothing while running.
    void start(const std::optional<std::string>& deviceID);
    // Schedules the session's stop on the queue; `isRunning` turns false at once.
    void stop();

    bool isRunning() const { return isRunning_; }
    // Frames that arrived with an image, and frames passed on. Never reset; any thread.
    std::int64_t framesReceived() const { return framesReceived_.load(); }
    std::int64_t framesDelivered() const { return framesDelivered_.load(); }

    // What the consumer needs of the frames to come: the throttle passes no more than it asks
    // for, and the session is told, so that it need not decode the rest. Every frame at full
    // size again at each `start` and `stop`. Any thread.
    void setDemand(const FrameDemand& demand);
    FrameDemand demand() const;

    // The consumer of throttled frames, called on `queue()`. Safe to set from any thread.
    void setOnFrame(FrameHandler handler);
    // Called synchronously inside `start` with one of the set-up messages.
    void setOnError(ErrorHandler handler);

    // The serial queue frames arrive on; owners run work that must not interleave with a
    // frame (the tracker's reset) there.
    const std::shared_ptr<SerialQueue>& queue() const { return queue_; }

    // The cameras in the platform's discovery order.
    static std::vector<CameraDevice> availableCameras();
    // Asks for permission; `completion` runs on the main thread with the answer.
    static void requestAccess(std::function<void(bool granted)> completion);

private:
    CameraCapture();
    void frameArrived(const PixelBuffer& frame);
    void capFrameRate();
    void reportError(const std::string& message);
    static double spacingFor(const FrameDemand& demand);

    std::shared_ptr<CameraSession> session_;
    std::shared_ptr<SerialQueue> queue_;
    std::weak_ptr<CameraCapture> self_;
    bool isRunning_ = false;
    bool handlerInstalled_ = false;
    bool startScheduled_ = false;       // the session may run: it must be stopped at the end
    std::atomic<double> lastDelivered_; // monotonic seconds
    std::atomic<double> spacing_{minimumSpacing};
    mutable std::mutex demandMutex_; // also orders `session_`'s creation before its use
    FrameDemand demand_;
    std::atomic<std::int64_t> framesReceived_{0};
    std::atomic<std::int64_t> framesDelivered_{0};
    mutable std::mutex handlersMutex_;
    std::shared_ptr<const FrameHandler> onFrame_;
    ErrorHandler onError_;
};

} // namespace orvane
