#include "orvane/app/OnboardingFlow.hpp"

#include "orvane/calibration/CalibrationStore.hpp"
#include "orvane/camera/CameraCapture.hpp"
#include "orvane/focus/UnreachablePrograms.hpp"
#include "orvane/platform/Platform.hpp"
#include "plinth/Numeric.hpp"

#include <utility>

namespace orvane {
namespace {

constexpr double pollTolerance = 0.1;

bool cameraAuthorized() {
    const auto& camera = platform().camera;
    return camera && camera->authorizationStatus() == CameraAuthorization::authorized;
}

bool accessibilityTrusted() {
    const auto& accessibility = platform().accessibility;
    return accessibility && accessibility->isProcessTrusted();
}

} // namespace

std::shared_ptr<OnboardingFlow>
OnboardingFlow::make(std::shared_ptr<CalibrationCoordinator> coordinator) {
    return std::shared_ptr<OnboardingFlow>(new OnboardingFlow(std::move(coordinator)));
}

OnboardingFlow::OnboardingFlow(std::shared_ptr<CalibrationCoordinator> coordinator)
    : coordinator_(std::move(coordinator)), cameraGranted_(cameraAuthorized()),
      axGranted_(accessibilityTrusted()) {}

OnboardingFlow::~OnboardingFlow() {
    stopPolling();
}

bool OnboardingFlow::canAdvance() const {
    switch (step_) {
    case cameraStep:
        return cameraGranted_;
    case accessibilityStep:
        return axGranted_ && bridgeReady();
    case calibrationStep: {
        const auto& store = CalibrationStore::shared();
        return store.model() &&
               store.layoutSignature() == CalibrationStore::currentLayoutSignature() &&
               !coordinator_->calibration()->isRunning.get();
    }
    default:
        return true;
    }
}

bool OnboardingFlow::showsRelaunchHint() const {
    return platform().words->relaunchNoticesGrant && step_ == accessibilityStep && !axGranted_ &&
           axWaitSeconds_ >= relaunchHintAfter;
}

void OnboardingFlow::back() {
    if (showsBack()) {
        setStep(step_ - 1);
    }
}

void OnboardingFlow::advance() {
    if (step_ < lastStep && canAdvance()) {
        setStep(step_ + 1);
    }
}

void OnboardingFlow::setStep(int step) {
    step_ = step;
    // A message belongs to the step that raised it.
    errorMessage_.reset();
    lookForProgramsToRestart();
    askBridge();
    changed();
}

void OnboardingFlow::startPolling() {
    if (poll_) {
        return;
    }
    std::weak_ptr<OnboardingFlow> weak = weak_from_this();
    poll_ = platform().mainQueue->repeating(pollInterval, pollTolerance, [weak] {
        if (auto flow = weak.lock()) {
            flow->poll();
        }
    });
}

void OnboardingFlow::stopPolling() {
    if (poll_) {
        poll_->cancel();
        poll_.reset();
    }
}

void OnboardingFlow::poll() {
    cameraGranted_ = cameraAuthorized();
    axGranted_ = accessibilityTrusted();
    if (step_ == accessibilityStep && !axGranted_) {
        ++axWaitSeconds_;
    } else {
        axWaitSeconds_ = 0;
    }
    if (step_ == cameraStep && cameraGranted_) {
        errorMessage_.reset(); // a refusal since reversed elsewhere
    }
    lookForProgramsToRestart();
    askBridge();
    changed();
}

void OnboardingFlow::askBridge() {
    const auto& bridge = platform().desktopBridge;
    if (bridge && step_ == accessibilityStep) {
        bridgeState_ = bridge->state();
    } else if (!bridge) {
        bridgeState_.reset();
    }
}

bool OnboardingFlow::bridgeReady() const {
    return !platform().desktopBridge ||
           (bridgeState_ && bridgeState_->status == DesktopBridgeStatus::ready);
}

void OnboardingFlow::enableBridge() {
    const auto& bridge = platform().desktopBridge;
    if (!bridge) {
        return;
    }
    errorMessage_.reset();
    if (!bridge->enable()) {
        errorMessage_ = bridgeState_ ? bridgeState_->desktop + " did not turn the extension on."
                                     : std::string("The desktop did not turn the extension on.");
    }
    askBridge();
    changed();
}

void OnboardingFlow::lookForProgramsToRestart() {
    if (step_ == accessibilityStep && axGranted_) {
        programsToRestart_ = UnreachablePrograms::list();
    } else {
        programsToRestart_.clear();
    }
}

void OnboardingFlow::requestCameraAccess() {
    std::weak_ptr<OnboardingFlow> weak = weak_from_this();
    CameraCapture::requestAccess([weak](bool granted) {
        auto flow = weak.lock();
        if (!flow) {
            return; // the window closed while the platform asked
        }
        flow->cameraGranted_ = granted;
        if (granted) {
            flow->errorMessage_.reset();
        } else {
            flow->errorMessage_ = platform().words->cameraDenied;
        }
        flow->changed();
    });
}

void OnboardingFlow::openAccessibilitySettings() {
    if (const auto& accessibility = platform().accessibility) {
        accessibility->promptForTrust();
    }
    const auto& url = platform().words->accessibilitySettingsURL;
    if (!url.empty() && platform().workspace) {
        platform().workspace->openURL(url);
    }
}

void OnboardingFlow::startCalibration() {
    std::weak_ptr<OnboardingFlow> weak = weak_from_this();
    // The coordinator has already told the engine `recalibrated()` on success.
    coordinator_->recalibrate([weak](bool success, std::optional<std::string> message) {
        auto flow = weak.lock();
        if (!flow) {
            return;
        }
        if (success) {
            flow->step_ = lastStep;
        }
        flow->errorMessage_ = std::move(message);
        flow->changed();
    });
    changed(); // the run, if it started, shows its progress
}

void OnboardingFlow::changed() {
    if (onChange) {
        onChange();
    }
}

std::string OnboardingFlow::stepCaption(int step) {
    return "Step " + std::to_string(step + 1) + " of " + std::to_string(stepCount);
}

std::string OnboardingFlow::accuracyLine(double fitError) {
    return "Average accuracy: about " + std::to_string(plinth::truncatedToInt64(fitError)) +
           " points";
}

std::string OnboardingFlow::pauseCallout(const PlatformWords& words) {
    return "Pause any time with " + words.pauseHotKey + ", or from the eye icon in the " +
           words.statusArea + ".";
}

} // namespace orvane
