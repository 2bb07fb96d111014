#pragma once

#include <memory>
#include <vector>

namespace orvane {
class CalibrationController;
class CalibrationCoordinator;
class GazeEngine;
class SerialQueue;
class UiToolkit;
} // namespace orvane

namespace orvane::ui {

class MenuBarController;

// The application's delegate: once launching has finished it builds the long-lived objects,
// keeps them for the life of the process, and stops the engine before the process ends.
// Main thread.
class AppDelegate {
public:
    AppDelegate();
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // `showInTray`, then `startEngine`.
    void applicationDidFinishLaunching();

    // Builds the engine, the calibration controller (and the toolkit that draws its windows),
    // the coordinator and the tray menu, in that order. Nothing is started yet.
    void showInTray();
    // Starts the engine (the camera, the guards, the face model's loading) and opens the
    // set-up window when a permission or the calibration is missing. After `showInTray`.
    void startEngine();

    // Stops the engine (once, and only if there is one) and cancels a calibration in progress.
    void applicationWillTerminate();

    // Another start of Orvane asked to see us: the set-up window while set-up is missing,
    // else the settings.
    void activate();
    // "orvane --toggle-pause" (a key binding of the user's): pauses or resumes.
    void togglePause();

    // The queues on which the cameras still deliver; drained by the caller once everything is
    // released, before the platform goes.
    std::vector<std::shared_ptr<SerialQueue>> cameraQueues() const;

    // Drops everything, windows first.
    void release();

    std::shared_ptr<GazeEngine> engine;
    std::shared_ptr<CalibrationController> calibration;
    std::shared_ptr<CalibrationCoordinator> coordinator;
    std::unique_ptr<MenuBarController> menuBar;

private:
    bool showsSetUp() const;

    std::shared_ptr<UiToolkit> toolkit_; // as installed in the platform
    bool stopped_ = false;
};

} // namespace orvane::ui
