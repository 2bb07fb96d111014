#pragma once

#include "orvane/calibration/CalibrationController.hpp"
#include "orvane/engine/GazeEngine.hpp"

#include <functional>
#include <memory>
#include <optional>

namespace orvane {

// One camera, one user: every calibration (from the menu, the settings or the set-up window)
// pauses the engine's pipeline, runs, and then restores the pause state the user wants — the
// one they had, or the one they asked for with a pause toggle during the run. Main thread.
class CalibrationCoordinator {
public:
    CalibrationCoordinator(std::shared_ptr<GazeEngine> engine,
                           std::shared_ptr<CalibrationController> calibration);

    // Starts a calibration unless one is running (then nothing happens and `completion` is not
    // called). `completion` runs after the engine's state is restored; on success the engine
    // has already taken the new model (`recalibrated()`).
    void recalibrate(CalibrationController::Completion completion);

    // The pause toggle of the menu and the hot key. During a calibration it only changes what
    // the engine returns to afterwards.
    void togglePause();

    // Paused as the user sees it: the state the engine is in, or will return to after a run.
    bool isPaused() const;

    // Runs `action` on the main queue once no calibration runs: next, or after the running one
    // has ended and the engine has its outcome. What would cut a run short (a relaunch) waits
    // for it this way. A later call replaces an action still waiting.
    void whenIdle(std::function<void()> action);

    const std::shared_ptr<GazeEngine>& engine() const { return engine_; }
    const std::shared_ptr<CalibrationController>& calibration() const { return calibration_; }

private:
    // While a run lasts: the pause state to restore afterwards. Shared with the run's
    // completion, which may come after the coordinator is gone.
    struct RunState {
        std::optional<bool> restorePaused;
    };

    std::shared_ptr<GazeEngine> engine_;
    std::shared_ptr<CalibrationController> calibration_;
    std::shared_ptr<RunState> state_;
    Subscription idleWatch_;
};

} // namespace orvane
