#include "orvane/camera/CameraCapture.hpp"

#include "orvane/platform/Platform.hpp"
#include "orvane/support/Log.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace orvane {
namespace {

// Frame durations are set in units of 1/600 s, a scale every common rate divides.
constexpr double durationTimeScale = 600;

} // namespace

std::shared_ptr<CameraCapture> CameraCapture::make() {
    std::shared_ptr<CameraCapture> capture(new CameraCapture());
    capture->self_ = capture;
    return capture;
}

CameraCapture::CameraCapture()
    : queue_(platform().serialQueues->makeSerialQueue(std::string(kApplicationIdentifier) +
                                                      ".camera")),
      lastDelivered_(platform().clock->monotonic()) {}

CameraCapture::~CameraCapture() {
    // Frames already find no capture to deliver to (they hold it weakly). What is left is to
    // stop the session, after whatever is queued: also when a `stop` was scheduled, since its
    // task holds the capture weakly and now finds nothing to stop.
    if (!session_ || !startScheduled_) {
        return;
    }
    auto stopped = std::make_shared<std::atomic<bool>>(false);
    queue_->async([session = session_, stopped] {
        session->stopRunning();
        stopped->store(true);
    });
    std::weak_ptr<SerialQueue> queue = queue_;
    queue_.reset();
    if (queue.expired() && !stopped->load()) {
        // The queue went with us, dropping the stop; nothing runs on it any more, so the
        // session is ours to stop here.
        session_->stopRunning();
    }
}

void CameraCapture::start(const std::optional<std::string>& deviceID) {
    if (isRunning_) {
        return;
    }
    const auto cameras = availableCameras();
    if (cameras.empty()) {
        reportError("No camera found.");
        return;
    }
    auto chosen = std::find_if(cameras.begin(), cameras.end(), [&](const CameraDevice& camera) {
        return deviceID && camera.uniqueID == *deviceID;
    });
    const CameraDevice& device = chosen != cameras.end() ? *chosen : cameras.front();

    if (!session_) {
        auto session = platform().camera->makeSession();
        std::lock_guard lock(demandMutex_);
        session_ = std::move(session);
    }
    const auto opened = session_->open(device);
    switch (opened.status) {
    case CameraSession::OpenStatus::failed:
        reportError("Could not open the camera: " + opened.description);
        return;
    case CameraSession::OpenStatus::unavailable:
        reportError("Camera is unavailable.");
        return;
    case CameraSession::OpenStatus::opened:
        break;
    }
    if (!handlerInstalled_) {
        std::weak_ptr<CameraCapture> weak = self_;
        session_->setFrameHandler(queue_, [weak](const PixelBuffer& frame) {
            if (auto self = weak.lock()) {
                self->frameArrived(frame);
            }
        });
        handlerInstalled_ = true;
    }
    capFrameRate();
    setDemand(FrameDemand{});

    std::weak_ptr<CameraCapture> weak = self_;
    queue_->async([weak] {
        if (auto self = weak.lock()) {
            self->session_->startRunning();
        }
    });
    startScheduled_ = true;
    isRunning_ = true;
}

void CameraCapture::stop() {
    if (!isRunning_) {
        return;
    }
    std::weak_ptr<CameraCapture> weak = self_;
    queue_->async([weak] {
        if (auto self = weak.lock()) {
            self->session_->stopRunning();
        }
    });
    setDemand(FrameDemand{});
    isRunning_ = false;
}

void CameraCapture::setDemand(const FrameDemand& demand) {
    std::lock_guard lock(demandMutex_);
    if (demand == demand_) {
        return;
    }
    demand_ = demand;
    spacing_.store(spacingFor(demand));
    if (session_) {
        session_->setFrameDemand(demand);
    }
}

FrameDemand CameraCapture::demand() const {
    std::lock_guard lock(demandMutex_);
    return demand_;
}

double CameraCapture::spacingFor(const FrameDemand& demand) {
    if (!(demand.framesPerSecond > 0) || demand.framesPerSecond >= targetFPS ||
        !std::isfinite(demand.framesPerSecond)) {
        return minimumSpacing;
    }
    return demandedSpacing / demand.framesPerSecond;
}

void CameraCapture::setOnFrame(FrameHandler handler) {
    auto shared = handler ? std::make_shared<const FrameHandler>(std::move(handler)) : nullptr;
    std::lock_guard lock(handlersMutex_);
    onFrame_ = std::move(shared);
}

void CameraCapture::setOnError(ErrorHandler handler) {
    std::lock_guard lock(handlersMutex_);
    onError_ = std::move(handler);
}

std::vector<CameraDevice> CameraCapture::availableCameras() {
    const auto& camera = platform().camera;
    return camera ? camera->devices() : std::vector<CameraDevice>{};
}

void CameraCapture::requestAccess(std::function<void(bool granted)> completion) {
    auto mainQueue = platform().mainQueue;
    auto answer = [mainQueue, completion = std::move(completion)](bool granted) {
        mainQueue->post([completion, granted] {
            if (completion) {
                completion(granted);
            }
        });
    };
    if (const auto& camera = platform().camera) {
        camera->requestAccess(std::move(answer));
    } else {
        answer(false);
    }
}

void CameraCapture::frameArrived(const PixelBuffer& frame) {
    if (frame.data == nullptr) {
        return; // no image: not a frame
    }
    ++framesReceived_;
    const double now = platform().clock->monotonic();
    if (now - lastDelivered_.load() < spacing_.load()) {
        return;
    }
    lastDelivered_.store(now);
    ++framesDelivered_;
    std::shared_ptr<const FrameHandler> handler;
    {
        std::lock_guard lock(handlersMutex_);
        handler = onFrame_;
    }
    if (handler) {
        (*handler)(frame);
    }
}

void CameraCapture::capFrameRate() {
    const auto range = session_->firstFrameRateRange();
    if (!range) {
        return;
    }
    double duration =
        std::min(range->maxFrameDuration, std::max(range->minFrameDuration, 1.0 / targetFPS));
    duration = std::round(duration * durationTimeScale) / durationTimeScale;
    if (!std::isfinite(duration) || duration <= 0) {
        return; // a range no camera has; leave the rate to the throttle
    }
    if (auto refused = session_->setFrameDuration(duration)) {
        Log::info("could not cap frame rate: " + *refused);
        return;
    }
    char text[64];
    std::snprintf(text, sizeof text, "capture capped at %.0f fps", 1.0 / duration);
    Log::info(text);
}

void CameraCapture::reportError(const std::string& message) {
    ErrorHandler handler;
    {
        std::lock_guard lock(handlersMutex_);
        handler = onError_;
    }
    if (handler) {
        handler(message);
    }
}

} // namespace orvane
