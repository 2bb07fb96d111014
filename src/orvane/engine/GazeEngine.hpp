#pragma once

#include "orvane/calibration/CalibrationStore.hpp"
#include "orvane/camera/CameraCapture.hpp"
#include "orvane/camera/HeadPoseTracker.hpp"
#include "orvane/engine/GazeStatus.hpp"
#include "orvane/focus/FocusSwitcher.hpp"
#include "orvane/focus/PaneFocuser.hpp"
#include "orvane/guards/InputGuards.hpp"
#include "orvane/platform/Displays.hpp"
#include "orvane/platform/MainQueue.hpp"
#include "orvane/platform/Subscription.hpp"
#include "orvane/support/Published.hpp"
#include "plinth/GazeModel.hpp"
#include "plinth/Geometry.hpp"
#include "plinth/HeadPose.hpp"

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

// The centre of the system: takes every head pose from its camera pipeline, predicts where the
// user looks, and moves keyboard focus to another display (or pane) once the gaze has rested
// there, unless a guard holds it back. Learns from clicks, watches the sitting distance, and
// keeps its pipeline and status right as permissions, the screen lock, sleep and the displays
// change. Main thread only; owned through a shared pointer (callbacks hold it weakly).
class GazeEngine {
public:
    static constexpr double permissionPollInterval = 1.5;
    static constexpr double permissionPollTolerance = 0.5;
    static constexpr std::size_t driftWindow = 150;
    static constexpr double driftUpperBound = 1.25;
    static constexpr double driftLowerBound = 0.8;
    static constexpr double copySettleSeconds = 0.12;
    static constexpr double copyWindowSeconds = 8.0;
    static constexpr double pointerHoldSeconds = 1.5;
    static constexpr double learnDistanceLimit = 700;
    // A click is learned only against a pose seen this recently.
    static constexpr double learnPoseMaxAge = HeadPoseTracker::poseGraceSeconds;
    // A live camera that delivers no frame for this long is taken for lost (unplugged, its
    // file gone) and started again at every permission tick until it delivers.
    static constexpr double cameraStallSeconds = 5;
    static constexpr const char* cameraLostReason = "camera unavailable";
    // The waiting reason in a session where focus cannot be moved at all.
    static constexpr const char* unsupportedSessionReason = "unsupported session";

    static std::shared_ptr<GazeEngine> make();
    ~GazeEngine();
    GazeEngine(const GazeEngine&) = delete;
    GazeEngine& operator=(const GazeEngine&) = delete;

    Published<GazeStatus> status{GazeStatus::needsCamera()};
    // In the global top-left space; absent when there is none to show.
    Published<std::optional<plinth::Point>> gazePoint;
    // The model's mean error, in points.
    Published<std::optional<double>> fitError;
    // The user sits at a clearly different distance than during calibration.
    Published<bool> needsRecalibration{false};

    // Wires click learning, the system observers and permission polling; starts the pipeline
    // when ready (and not paused).
    void start();
    // Stops polling, the camera and the input guards. The status stays as it was.
    void stop();

    bool isPaused() const { return isPaused_; }
    // Every assignment runs the pause or resume steps, changed or not.
    void setPaused(bool paused);

    // The chosen camera changed: a live pipeline restarts its camera with it.
    void restartCamera();
    // A calibration ran or learning was reset: take the new model, clear the drift.
    void recalibrated();

    // Permissions granted, a model, and the model made for the displays connected now.
    bool isReady() const;
    // Asked at every pose, the set-up questions cost round trips to the camera nodes, the
    // accessibility bus and the display server, 15 times a second. A pose reuses an answer
    // up to this old; the permission timer, a calibration and a display change ask afresh.
    static constexpr double poseReadinessSeconds = 0.5;
    bool isPipelineLive() const { return isPipelineLive_; }
    bool isScreenLocked() const { return screenLocked_; }
    bool isAsleep() const { return asleep_; }
    const std::optional<std::string>& activeScreenKey() const { return activeScreenKey_; }
    // The last face pose handled (kept while the face is lost); absent before the first.
    const std::optional<plinth::HeadPose>& lastPose() const { return lastPose_; }

    // One pose from the tracker (absent: no face). Public for the pipeline's hop and tests.
    void handle(const std::optional<plinth::HeadPose>& pose);
    // One click at a point of the global top-left space.
    void learn(plinth::Point click);

    // Whatever the permission timer does at each tick.
    void reconcilePermissions();

    CameraCapture& camera() { return *camera_; }
    HeadPoseTracker& tracker() { return *tracker_; }
    InputGuards& guards() { return *guards_; }
    FocusSwitcher& switcher() { return switcher_; }

private:
    GazeEngine();

    // Decisions
    void evaluate(plinth::Point gaze);
    void switchScreen(const Display& screen, plinth::Point gaze);
    void maybeSwitchPane(plinth::Point gaze);
    void trackDrift(const plinth::HeadPose& pose, const plinth::GazeModel& model);
    void clearCandidate();
    void holdSwitching(std::string reason);

    // Lifecycle
    void handlePause();
    void handleResume();
    void startPipeline();
    void stopCamera();
    void startCamera();
    void startLiveCamera();
    bool isReadyForPose();
    // What set-up is missing (camera, accessibility, a calibration for these displays).
    std::optional<GazeStatus> missingSetUp() const;
    // A model, fitted for the displays connected now.
    static bool hasCalibrationForTheseDisplays();
    void refreshStatus();
    void startPermissionWatcher();
    void observeSystemState();
    void suspend(bool locked);
    void wake(bool unlocked);
    bool mayRun() const;
    void publishFitError();
    void watchCamera();
    // What the camera and the tracker had delivered by `now`, for the next look.
    void noteCameraProgress(double now);

    std::shared_ptr<CameraCapture> camera_;
    std::shared_ptr<HeadPoseTracker> tracker_;
    std::shared_ptr<InputGuards> guards_;
    FocusSwitcher switcher_;
    PaneFocuser panes_;

    bool isPaused_ = false;
    bool isPipelineLive_ = false;
    // Kept apart: waking does not unlock the screen, and unlocking does not wake the machine.
    bool screenLocked_ = false;
    bool asleep_ = false;
    // Set by the camera's error callback during a start: the pipeline is not live then, so
    // the next permission tick tries again.
    bool cameraFailed_ = false;
    std::string lastCameraError_;
    // Frames the live camera had delivered and readings handled at the last look, and when
    // either last grew (monotonic); whether the stall was reported.
    std::int64_t readingsHandled_ = 0;
    std::int64_t readingsSeen_ = 0;
    std::int64_t framesSeen_ = 0;
    double framesSeenAt_ = 0;
    bool cameraLost_ = false;

    std::optional<Display> candidateScreen_;
    std::optional<double> candidateSince_; // monotonic
    // The last readiness answer a pose used, and when it was asked (monotonic).
    bool poseReady_ = false;
    std::optional<double> poseReadyAskedAt_;
    std::optional<std::string> activeScreenKey_;
    double lastPaneSwitch_; // monotonic

    std::optional<plinth::HeadPose> lastPose_;
    // When the last fresh reading (not a re-delivered held pose) was handled, monotonic, and
    // whether that handling found the user facing the displays.
    double lastPoseSeenAt_;
    bool lastPoseUsable_ = false;

    std::deque<double> driftSamples_;

    TimerHandle permissionWatcher_;
    std::vector<Subscription> observers_;
    std::weak_ptr<GazeEngine> self_;
};

} // namespace orvane
