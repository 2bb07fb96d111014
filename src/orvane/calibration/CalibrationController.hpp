#pragma once

#include "orvane/camera/CameraCapture.hpp"
#include "orvane/camera/HeadPoseTracker.hpp"
#include "orvane/platform/Cancellation.hpp"
#include "orvane/platform/Displays.hpp"
#include "orvane/platform/Subscription.hpp"
#include "orvane/platform/UiToolkit.hpp"
#include "orvane/support/Published.hpp"
#include "plinth/CalibrationSample.hpp"
#include "plinth/Geometry.hpp"
#include "plinth/HeadPose.hpp"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

// Runs one calibration: covers every display with a calibration screen, shows a dot at five
// places on each display in turn, reduces the head poses seen while each dot samples to one
// training sample, and stores the fitted model when the run is good enough. Owns a camera and
// a tracker of its own, running only during a run. Main thread only; owned through a shared
// pointer (its callbacks and timers hold it weakly).
class CalibrationController : public std::enable_shared_from_this<CalibrationController> {
public:
    // (success, a message for the user). Called once for every accepted run.
    using Completion = std::function<void(bool, std::optional<std::string>)>;

    // Fractions of a display's width and height from its top-left corner, in showing order.
    static constexpr std::array<plinth::Point, 5> targets{
        {{0.5, 0.5}, {0.12, 0.12}, {0.88, 0.12}, {0.12, 0.88}, {0.88, 0.88}}};
    static constexpr double showSeconds = 0.7;
    static constexpr double sampleSeconds = 1.6;
    static constexpr std::size_t minimumPosesPerDot = 4;
    static constexpr std::size_t minimumSamples = 5;
    static constexpr double maximumMeanError = 1200.0;

    static std::shared_ptr<CalibrationController> make();
    ~CalibrationController();
    CalibrationController(const CalibrationController&) = delete;
    CalibrationController& operator=(const CalibrationController&) = delete;

    Published<bool> isRunning{false};
    // The name of the display now showing the dot.
    Published<std::string> currentScreenName;
    // Share of the run's dots done, 0 to 1.
    Published<double> progress{0};
    // The tracker's last delivery was a face.
    Published<bool> faceVisible{false};
    // Display key (FocusSwitcher::key) of the display now showing the dot.
    Published<std::string> activeScreenID;
    // The dot's centre in the active display's window: points, top-left origin, y downward.
    Published<plinth::Point> dotPosition;
    // The dot is sampling (drawn larger).
    Published<bool> dotIsSampling{false};

    // Starts a run unless one is going (then nothing happens and `completion` is not called).
    // Without camera access `completion` gets (false, "Camera access is required.") at once.
    void start(Completion completion);

    // Ends the current run and reports (success, message) to its completion, once.
    void finish(bool success, std::optional<std::string> message);

    // What the calibration screen's Escape does.
    void cancel() { finish(false, std::nullopt); }

    CameraCapture& camera() { return *camera_; }
    HeadPoseTracker& tracker() { return *tracker_; }
    // The windows of the current run (empty between runs).
    std::size_t windowCount() const { return windows_.size(); }

    // One pose from the tracker, on the main thread (absent: no face). Public for tests.
    void receive(const std::optional<plinth::HeadPose>& pose);

private:
    // A display of the run, as it was when the run started.
    struct RunDisplay {
        Display display;
        std::string key;
        plinth::Rect globalFrame;
    };

    CalibrationController();
    bool isCurrent(std::uint64_t run) const { return isRunning && runNumber_ == run; }
    void installPipeline(std::uint64_t run);
    void watchDisplays(std::uint64_t run);
    bool presentWindows();
    void showDot(std::uint64_t run);
    void beginSampling(std::uint64_t run);
    void endSampling(std::uint64_t run);
    void wait(double seconds, std::uint64_t run,
              void (CalibrationController::*next)(std::uint64_t));
    void record(plinth::Point target, const plinth::Rect& globalFrame);
    void finalize();
    bool displaysChanged() const;

    std::shared_ptr<CameraCapture> camera_;
    std::shared_ptr<HeadPoseTracker> tracker_;
    std::vector<std::unique_ptr<FullScreenWindow>> windows_;
    std::vector<plinth::CalibrationSample> collected_;
    std::vector<plinth::HeadPose> poseBuffer_;
    bool isSampling_ = false;
    std::optional<plinth::HeadPose> latestPose_;
    Completion onFinish_;
    // Each run's number: a sequence goes on only while its own run is the current one.
    std::uint64_t runNumber_ = 0;
    // Taken once at the start: the run calibrates these displays or fails.
    std::vector<RunDisplay> displays_;
    std::string layoutSignature_;
    std::size_t displayIndex_ = 0;
    std::size_t targetIndex_ = 0;
    std::size_t step_ = 0;
    TimerHandle pendingWait_;
    Subscription displayWatch_;
};

} // namespace orvane
