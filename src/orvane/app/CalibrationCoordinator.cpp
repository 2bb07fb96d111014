#include "orvane/app/CalibrationCoordinator.hpp"

#include "orvane/platform/Platform.hpp"

#include <utility>

namespace orvane {

CalibrationCoordinator::CalibrationCoordinator(std::shared_ptr<GazeEngine> engine,
                                               std::shared_ptr<CalibrationController> calibration)
    : engine_(std::move(engine)), calibration_(std::move(calibration)),
      state_(std::make_shared<RunState>()) {}

void CalibrationCoordinator::recalibrate(CalibrationController::Completion completion) {
    if (calibration_->isRunning) {
        return;
    }
    state_->restorePaused = engine_->isPaused();
    // Pausing stops the engine's camera, so the calibration can open one of its own.
    engine_->setPaused(true);
    std::weak_ptr<GazeEngine> weakEngine = engine_;
    // The engine is put back even if the coordinator is gone by then: it must not stay paused.
    calibration_->start([weakEngine, state = state_, completion = std::move(completion)](
                            bool success, std::optional<std::string> message) {
        const bool paused = state->restorePaused.value_or(false);
        state->restorePaused.reset();
        if (auto engine = weakEngine.lock()) {
            engine->setPaused(paused);
            if (success) {
                engine->recalibrated();
            }
        }
        if (completion) {
            completion(success, std::move(message));
        }
    });
}

void CalibrationCoordinator::togglePause() {
    if (state_->restorePaused) {
        *state_->restorePaused = !*state_->restorePaused;
        return;
    }
    engine_->setPaused(!engine_->isPaused());
}

void CalibrationCoordinator::whenIdle(std::function<void()> action) {
    // Posted: a run's end is published before its completion has run, and a caller may be deep
    // in a call that should finish first.
    auto post = [action = std::move(action)] {
        platform().mainQueue->post(action);
    };
    idleWatch_.reset();
    if (!calibration_->isRunning) {
        post();
        return;
    }
    idleWatch_ = calibration_->isRunning.subscribe([this, post](bool running) {
        if (!running) {
            idleWatch_.reset();
            post();
        }
    });
}

bool CalibrationCoordinator::isPaused() const {
    return state_->restorePaused.value_or(engine_->isPaused());
}

} // namespace orvane
