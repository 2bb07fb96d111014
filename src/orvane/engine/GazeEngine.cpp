// The engine's lifecycle: pipeline, pause, permissions, sleep, lock and display changes.

#include "orvane/engine/GazeEngine.hpp"

#include "orvane/platform/Platform.hpp"
#include "orvane/support/Log.hpp"
#include "orvane/support/Prefs.hpp"

#include <utility>

namespace orvane {

std::shared_ptr<GazeEngine> GazeEngine::make() {
    std::shared_ptr<GazeEngine> engine(new GazeEngine());
    engine->self_ = engine;
    return engine;
}

GazeEngine::GazeEngine()
    : camera_(CameraCapture::make()), tracker_(std::make_shared<HeadPoseTracker>()),
      guards_(std::make_shared<InputGuards>()), lastPaneSwitch_(Clock::distantPast),
      lastPoseSeenAt_(Clock::distantPast) {}

GazeEngine::~GazeEngine() {
    if (permissionWatcher_) {
        permissionWatcher_->cancel();
    }
}

std::optional<GazeStatus> GazeEngine::missingSetUp() const {
    auto& services = platform();
    if (!services.camera ||
        services.camera->authorizationStatus() != CameraAuthorization::authorized) {
        return GazeStatus::needsCamera();
    }
    if (!services.accessibility || !services.accessibility->isProcessTrusted()) {
        return GazeStatus::needsAccessibility();
    }
    if (!hasCalibrationForTheseDisplays()) {
        return GazeStatus::needsCalibration();
    }
    return std::nullopt;
}

bool GazeEngine::hasCalibrationForTheseDisplays() {
    const auto& store = CalibrationStore::shared();
    return store.model() && store.layoutSignature() == CalibrationStore::currentLayoutSignature();
}

bool GazeEngine::isReady() const {
    return !missingSetUp();
}

bool GazeEngine::isReadyForPose() {
    const double now = platform().clock->monotonic();
    if (!poseReadyAskedAt_ || now - *poseReadyAskedAt_ >= poseReadinessSeconds ||
        now < *poseReadyAskedAt_) {
        poseReady_ = isReady();
        poseReadyAskedAt_ = now;
    }
    return poseReady_;
}

// Ready, and nothing the user or the system did keeps the camera off.
bool GazeEngine::mayRun() const {
    return !isPaused_ && !screenLocked_ && !asleep_ && platform().unsupportedSession.empty() &&
           isReady();
}

void GazeEngine::publishFitError() {
    const auto& model = CalibrationStore::shared().model();
    fitError = model ? std::optional<double>(model->meanError) : std::nullopt;
}

void GazeEngine::start() {
    // Where focus cannot be moved at all, tracking would only half-work: stay idle, say why.
    if (const auto& reason = platform().unsupportedSession; !reason.empty()) {
        Log::error(reason);
        status = GazeStatus::waiting(unsupportedSessionReason);
        return;
    }
    std::weak_ptr<GazeEngine> weak = self_;
    guards_->onClick = [weak](plinth::Point click) {
        if (auto engine = weak.lock()) {
            engine->learn(click);
        }
    };
    observeSystemState();
    startPermissionWatcher();
    refreshStatus();
    if (mayRun()) {
        startPipeline();
    }
}

void GazeEngine::stop() {
    if (permissionWatcher_) {
        permissionWatcher_->cancel();
        permissionWatcher_.reset();
    }
    stopCamera();
    guards_->stop();
    isPipelineLive_ = false;
}

void GazeEngine::setPaused(bool paused) {
    isPaused_ = paused;
    if (paused) {
        handlePause();
    } else {
        handleResume();
    }
}

void GazeEngine::handlePause() {
    stopCamera();
    gazePoint = std::nullopt;
    isPipelineLive_ = false;
    status = GazeStatus::paused();
}

void GazeEngine::handleResume() {
    refreshStatus();
    if (mayRun()) {
        startPipeline();
    }
}

void GazeEngine::stopCamera() {
    camera_->stop();
    // On the camera queue, so the reset never interleaves with a frame being processed.
    std::weak_ptr<HeadPoseTracker> tracker = tracker_;
    camera_->queue()->async([tracker] {
        if (auto alive = tracker.lock()) {
            alive->reset();
        }
    });
}

void GazeEngine::startCamera() {
    cameraFailed_ = false;
    camera_->start(Prefs::shared().cameraID());
}

void GazeEngine::startPipeline() {
    if (isPipelineLive_) {
        return;
    }
    std::weak_ptr<GazeEngine> weak = self_;
    camera_->setOnError([weak](const std::string& message) {
        // Called inside `start` on the main thread.
        if (auto engine = weak.lock()) {
            engine->cameraFailed_ = true;
            if (message != engine->lastCameraError_) {
                Log::error(message);
                engine->lastCameraError_ = message;
            }
        }
    });
    std::weak_ptr<HeadPoseTracker> tracker = tracker_;
    camera_->setOnFrame([tracker](const PixelBuffer& frame) {
        if (auto alive = tracker.lock()) {
            alive->process(frame);
        }
    });
    // Nobody in view: the camera need only give enough to notice someone coming back.
    std::weak_ptr<CameraCapture> camera = camera_;
    tracker_->setOnDemand([camera](const FrameDemand& demand) {
        if (auto alive = camera.lock()) {
            alive->setDemand(demand);
        }
    });
    std::shared_ptr<MainQueue> mainQueue = platform().mainQueue;
    tracker_->setOnPose([weak, mainQueue](const std::optional<plinth::HeadPose>& pose) {
        mainQueue->post([weak, pose] {
            if (auto engine = weak.lock()) {
                engine->handle(pose);
            }
        });
    });
    // Begin cold: a pose left from before a pause or a lock is no reading of now.
    stopCamera();
    startCamera();
    guards_->start();
    if (cameraFailed_) {
        // Not live: the next permission tick tries the camera again.
        status = GazeStatus::waiting(cameraLostReason);
        return;
    }
    lastCameraError_.clear();
    noteCameraProgress(platform().clock->monotonic());
    isPipelineLive_ = true;
    publishFitError();
    status = GazeStatus::noFace();
    Log::info("pipeline started");
}

void GazeEngine::refreshStatus() {
    if (auto missing = missingSetUp()) {
        status = std::move(*missing);
        return;
    }
    if (isPaused_) {
        status = GazeStatus::paused();
        return;
    }
    if (screenLocked_) {
        status = GazeStatus::waiting("screen locked");
        return;
    }
    if (status.get().needsSetUp()) {
        status = isPipelineLive_ ? GazeStatus::noFace() : GazeStatus::waiting("starting");
    }
}

void GazeEngine::startPermissionWatcher() {
    if (permissionWatcher_) {
        return;
    }
    std::weak_ptr<GazeEngine> weak = self_;
    // The queue keeps its timers: a strong reference back to it would keep both alive forever.
    std::weak_ptr<MainQueue> weakQueue = platform().mainQueue;
    permissionWatcher_ = platform().mainQueue->repeating(
        permissionPollInterval, permissionPollTolerance, [weak, weakQueue] {
            if (auto mainQueue = weakQueue.lock()) {
                mainQueue->post([weak] {
                    if (auto engine = weak.lock()) {
                        engine->reconcilePermissions();
                    }
                });
            }
        });
}

void GazeEngine::reconcilePermissions() {
    poseReadyAskedAt_.reset();
    if (isReady()) {
        if (!isPipelineLive_ && mayRun()) {
            startPipeline();
        } else if (isPipelineLive_) {
            watchCamera();
        }
        return;
    }
    if (isPipelineLive_) {
        stopCamera();
        gazePoint = std::nullopt;
        isPipelineLive_ = false;
        Log::info("permissions withdrawn — pipeline stopped");
    }
    refreshStatus();
}

// A camera that stopped delivering (unplugged, its clip deleted, a driver failing) says so
// only in the log: without a restart the pipeline would stay live and blind for good.
void GazeEngine::watchCamera() {
    const double now = platform().clock->monotonic();
    if (camera_->framesReceived() != framesSeen_ || readingsHandled_ != readingsSeen_ ||
        now < framesSeenAt_) {
        noteCameraProgress(now);
        cameraLost_ = false;
        return;
    }
    if (now - framesSeenAt_ < cameraStallSeconds) {
        return;
    }
    if (!cameraLost_) {
        cameraLost_ = true;
        Log::error("the camera stopped delivering frames: starting it again");
    }
    stopCamera();
    gazePoint = std::nullopt;
    clearCandidate();
    isPipelineLive_ = false;
    // Says "camera unavailable" while the camera stays missing; the next tick tries again.
    startPipeline();
}

void GazeEngine::noteCameraProgress(double now) {
    framesSeen_ = camera_->framesReceived();
    readingsSeen_ = readingsHandled_;
    framesSeenAt_ = now;
}

void GazeEngine::observeSystemState() {
    auto& workspace = platform().workspace;
    if (!workspace) {
        return;
    }
    std::weak_ptr<GazeEngine> weak = self_;
    std::shared_ptr<MainQueue> mainQueue = platform().mainQueue;
    auto on = [&](WorkspaceEvent event, void (*work)(GazeEngine&)) {
        observers_.push_back(workspace->observe(event, [weak, mainQueue, work] {
            mainQueue->post([weak, work] {
                if (auto engine = weak.lock()) {
                    work(*engine);
                }
            });
        }));
    };
    on(WorkspaceEvent::willSleep, [](GazeEngine& engine) { engine.suspend(false); });
    on(WorkspaceEvent::didWake, [](GazeEngine& engine) { engine.wake(false); });
    on(WorkspaceEvent::screenLocked, [](GazeEngine& engine) { engine.suspend(true); });
    on(WorkspaceEvent::screenUnlocked, [](GazeEngine& engine) { engine.wake(true); });
    on(WorkspaceEvent::displaysChanged, [](GazeEngine& engine) {
        engine.poseReadyAskedAt_.reset();
        engine.activeScreenKey_.reset();
        engine.refreshStatus();
    });
}

void GazeEngine::suspend(bool locked) {
    if (locked) {
        screenLocked_ = true;
    } else {
        asleep_ = true;
    }
    stopCamera();
    gazePoint = std::nullopt;
    clearCandidate();
    isPipelineLive_ = false;
    if (locked && !isPaused_ && !status.get().needsSetUp()) {
        status = GazeStatus::waiting("screen locked");
    }
}

void GazeEngine::wake(bool unlocked) {
    if (unlocked) {
        screenLocked_ = false;
    } else {
        asleep_ = false;
    }
    if (unlocked && status.get() == GazeStatus::waiting("screen locked")) {
        status = GazeStatus::waiting("starting");
    }
    if (mayRun()) {
        startPipeline();
    }
}

void GazeEngine::restartCamera() {
    if (!isPipelineLive_) {
        return;
    }
    stopCamera();
    startLiveCamera();
}

void GazeEngine::recalibrated() {
    poseReadyAskedAt_.reset();
    driftSamples_.clear();
    needsRecalibration = false;
    activeScreenKey_.reset();
    publishFitError();
    refreshStatus();
    // A pipeline that is not live is started by the next permission tick.
    if (isPipelineLive_ && mayRun()) {
        startLiveCamera();
    }
}

// Starts the camera of a live pipeline; a failure leaves the pipeline for the next tick.
void GazeEngine::startLiveCamera() {
    startCamera();
    if (cameraFailed_) {
        // What the old camera saw is no reading of now: the dot must not freeze on it.
        isPipelineLive_ = false;
        gazePoint = std::nullopt;
        clearCandidate();
        status = GazeStatus::waiting(cameraLostReason);
    }
}

} // namespace orvane
