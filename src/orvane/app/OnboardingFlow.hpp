#pragma once

#include "orvane/app/CalibrationCoordinator.hpp"
#include "orvane/platform/Cancellation.hpp"
#include "orvane/platform/DesktopBridge.hpp"
#include "orvane/platform/PlatformWords.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

// What the set-up window walks through, without the drawing: the step, the two permissions
// (polled once a second so a grant made elsewhere shows up by itself), the relaunch hint, and
// the calibration started from it. Main thread only; owned through a shared pointer, since
// the camera's answer and the calibration's completion may come after the window is gone.
class OnboardingFlow : public std::enable_shared_from_this<OnboardingFlow> {
public:
    static constexpr int stepCount = 4;
    static constexpr int lastStep = stepCount - 1;
    static constexpr int cameraStep = 0;
    static constexpr int accessibilityStep = 1;
    static constexpr int calibrationStep = 2;
    static constexpr double pollInterval = 1.0;
    // Seconds on the accessibility step without a grant before the relaunch hint shows.
    static constexpr int relaunchHintAfter = 6;

    static std::shared_ptr<OnboardingFlow>
    make(std::shared_ptr<CalibrationCoordinator> coordinator);
    ~OnboardingFlow();
    OnboardingFlow(const OnboardingFlow&) = delete;
    OnboardingFlow& operator=(const OnboardingFlow&) = delete;

    // Called after anything the window shows may have changed (every poll tick included).
    std::function<void()> onChange;

    int step() const { return step_; }
    bool cameraGranted() const { return cameraGranted_; }
    bool axGranted() const { return axGranted_; }
    const std::optional<std::string>& errorMessage() const { return errorMessage_; }
    int axWaitSeconds() const { return axWaitSeconds_; }

    // Whether the default button may be pressed on this step.
    bool canAdvance() const;
    bool showsBack() const { return step_ >= 1 && step_ <= calibrationStep; }
    bool showsRelaunchHint() const;
    // On the accessibility step, once trusted: the programs that need a restart before Orvane
    // can reach their windows (asked at every tick there). Empty elsewhere.
    const std::vector<std::string>& programsToRestart() const { return programsToRestart_; }

    // Where the desktop is reached through a helper inside it: what the accessibility step
    // last learnt of it (asked at every tick there). Advancing waits for it to be ready.
    const std::optional<DesktopBridgeState>& bridgeState() const { return bridgeState_; }
    // "Turn On Extension": asks the desktop to switch its helper on.
    void enableBridge();

    // The footer's buttons; each does nothing where the button is not offered.
    void back();
    void advance();

    // The repeating permission check; stopping also happens when the flow goes.
    void startPolling();
    void stopPolling();
    bool isPolling() const { return poll_ != nullptr; }
    // One tick of it.
    void poll();

    // "Allow Camera…": asks the platform; the answer arrives later on the main thread.
    void requestCameraAccess();
    // Asks for the accessibility trust and opens the platform's place for it, if it has one.
    void openAccessibilitySettings();
    // Runs a calibration through the coordinator (which pauses the engine's camera meanwhile);
    // success moves on to the last step, any message shows.
    void startCalibration();

    // "Step N of 4".
    static std::string stepCaption(int step);
    // "Average accuracy: about N points".
    static std::string accuracyLine(double fitError);
    // How to pause, in this platform's words.
    static std::string pauseCallout(const PlatformWords& words);

private:
    explicit OnboardingFlow(std::shared_ptr<CalibrationCoordinator> coordinator);
    void setStep(int step);
    void lookForProgramsToRestart();
    void askBridge();
    bool bridgeReady() const;
    void changed();

    std::shared_ptr<CalibrationCoordinator> coordinator_;
    int step_ = 0;
    bool cameraGranted_ = false;
    bool axGranted_ = false;
    std::optional<std::string> errorMessage_;
    int axWaitSeconds_ = 0;
    std::vector<std::string> programsToRestart_;
    std::optional<DesktopBridgeState> bridgeState_;
    TimerHandle poll_;
};

} // namespace orvane
