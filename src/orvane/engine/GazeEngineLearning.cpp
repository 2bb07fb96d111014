// Learning from clicks: a click is taken as "the user was looking here" for the latest pose.

#include "orvane/engine/GazeEngine.hpp"

#include "orvane/focus/WindowFinder.hpp"
#include "orvane/platform/Platform.hpp"
#include "orvane/support/Log.hpp"
#include "orvane/support/Prefs.hpp"
#include "plinth/Numeric.hpp"

#include <cmath>
#include <string>

namespace orvane {

void GazeEngine::learn(plinth::Point click) {
    const Prefs& prefs = Prefs::shared();
    if (!prefs.learnFromClicks() || isPaused_) {
        return;
    }
    // Behind a lock screen or in sleep, clicks are not the user looking at their work.
    if (screenLocked_ || asleep_) {
        return;
    }
    // Only a reading of the user facing the displays, taken moments ago, says where they
    // looked when they clicked.
    const double now = platform().clock->monotonic();
    if (!lastPose_ || !lastPoseUsable_ || now - lastPoseSeenAt_ > learnPoseMaxAge) {
        return;
    }
    if (!hasCalibrationForTheseDisplays()) {
        return;
    }
    if (now - guards_->lastTextKeystroke() < prefs.typingPauseSeconds()) {
        return;
    }
    if (const auto window = WindowFinder::windowAt(click)) {
        switcher_.noteManualFocus(*window);
    }

    const auto features = lastPose_->features();
    auto& store = CalibrationStore::shared();
    const plinth::Point predicted = store.model()->predict(features);
    const double distance = std::hypot(predicted.x - click.x, predicted.y - click.y);
    if (!std::isfinite(distance)) {
        Log::info("ignored click: no usable gaze prediction");
        return;
    }
    if (!(distance < learnDistanceLimit)) {
        Log::info("ignored click " + std::to_string(plinth::truncatedToInt64(distance)) +
                  "pt from predicted gaze");
        return;
    }
    store.append({features, click.x, click.y, lastPose_->area});
    publishFitError();
    if (const auto screen = FocusSwitcher::screenAt(click)) {
        activeScreenKey_ = FocusSwitcher::key(*screen);
    }
}

} // namespace orvane
