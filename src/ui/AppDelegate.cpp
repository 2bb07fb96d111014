#include "ui/AppDelegate.hpp"

#include "orvane/app/CalibrationCoordinator.hpp"
#include "orvane/calibration/CalibrationController.hpp"
#include "orvane/engine/GazeEngine.hpp"
#include "orvane/platform/Platform.hpp"
#include "orvane/support/Log.hpp"
#include "orvane/support/Prefs.hpp"
#include "orvane/support/Relaunch.hpp"
#include "ui/MenuBarController.hpp"
#include "ui/QtUiToolkit.hpp"

namespace orvane::ui {

AppDelegate::AppDelegate() = default;

AppDelegate::~AppDelegate() {
    release();
}

void AppDelegate::applicationDidFinishLaunching() {
    showInTray();
    startEngine();
}

void AppDelegate::showInTray() {
    engine = GazeEngine::make();
    calibration = CalibrationController::make();
    // The calibration draws its full-screen windows through the toolkit of the platform.
    toolkit_ = makeQtUiToolkit(calibration);
    platform().uiToolkit = toolkit_;
    coordinator = std::make_shared<CalibrationCoordinator>(engine, calibration);
    menuBar = std::make_unique<MenuBarController>(engine, calibration, coordinator);
    menuBar->setRelaunch([] { Relaunch::now(); });
}

void AppDelegate::startEngine() {
    // Turned on in an earlier session; the preference stays as the user left it even when the
    // devices cannot be read now, and Settings says why.
    if (const auto& devices = platform().inputDevices;
        devices && Prefs::shared().readInputDevices()) {
        if (std::string problem; !devices->setEnabled(true, &problem)) {
            Log::error("Cannot read the input devices: " + problem);
        }
    }
    engine->start();
    if (showsSetUp()) {
        menuBar->openOnboarding();
    }
    Log::info("Orvane started");
}

void AppDelegate::applicationWillTerminate() {
    if (calibration && calibration->isRunning.get()) {
        calibration->cancel();
    }
    if (engine && !stopped_) {
        stopped_ = true;
        engine->stop();
    }
}

void AppDelegate::togglePause() {
    if (menuBar) {
        menuBar->togglePause();
    }
}

void AppDelegate::activate() {
    if (!menuBar || !engine) {
        return;
    }
    if (showsSetUp()) {
        menuBar->openOnboarding();
    } else {
        menuBar->openSettings();
    }
}

// The set-up window also carries the word on a session where focus cannot be moved.
bool AppDelegate::showsSetUp() const {
    // So does a desktop whose helper Orvane needs is not working.
    const auto& bridge = platform().desktopBridge;
    return engine->status.get().needsSetUp() || !platform().unsupportedSession.empty() ||
           (bridge && bridge->state().status != DesktopBridgeStatus::ready);
}

std::vector<std::shared_ptr<SerialQueue>> AppDelegate::cameraQueues() const {
    std::vector<std::shared_ptr<SerialQueue>> queues;
    if (engine) {
        queues.push_back(engine->camera().queue());
    }
    if (calibration) {
        queues.push_back(calibration->camera().queue());
    }
    return queues;
}

void AppDelegate::release() {
    menuBar.reset();
    coordinator.reset();
    if (toolkit_ && hasPlatform() && platform().uiToolkit == toolkit_) {
        platform().uiToolkit.reset();
    }
    toolkit_.reset();
    calibration.reset();
    engine.reset();
}

} // namespace orvane::ui
