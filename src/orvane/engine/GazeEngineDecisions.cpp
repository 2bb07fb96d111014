// The engine's per-pose path: from a head pose to a gaze point, through the guards, to a
// focus change on another display or within the focused one.

#include "orvane/engine/GazeEngine.hpp"

#include "orvane/focus/WindowFinder.hpp"
#include "orvane/guards/SystemGuards.hpp"
#include "orvane/platform/Platform.hpp"
#include "orvane/support/Log.hpp"
#include "orvane/support/Prefs.hpp"
#include "plinth/ScreenGeometry.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace orvane {
namespace {

bool isFinite(const plinth::HeadPose& pose) {
    return std::isfinite(pose.yaw) && std::isfinite(pose.pitch) && std::isfinite(pose.roll) &&
           std::isfinite(pose.centerX) && std::isfinite(pose.centerY) && std::isfinite(pose.area) &&
           std::isfinite(pose.timestamp);
}

double monotonicNow() {
    return platform().clock->monotonic();
}

std::vector<plinth::Rect> globalDisplayFrames() {
    std::vector<plinth::Rect> frames;
    const auto screens = platform().displays->screens();
    frames.reserve(screens.size());
    for (const auto& screen : screens) {
        frames.push_back(screen.frame);
    }
    return frames;
}

} // namespace

void GazeEngine::clearCandidate() {
    candidateScreen_.reset();
    candidateSince_.reset();
}

void GazeEngine::holdSwitching(std::string reason) {
    candidateSince_.reset();
    status = GazeStatus::waiting(std::move(reason));
}

void GazeEngine::handle(const std::optional<plinth::HeadPose>& reading) {
    ++readingsHandled_;
    // Stopping the camera only schedules the stop: a reading taken before the machine went to
    // sleep can still arrive, and is no reading of now.
    if (isPaused_ || asleep_ || !isReadyForPose()) {
        return;
    }
    // A reading with a non-finite number is no reading of a face.
    const bool hasFace = reading && isFinite(*reading);
    if (!hasFace) {
        gazePoint = std::nullopt;
        clearCandidate();
        status = GazeStatus::noFace();
        lastPoseUsable_ = false;
        return;
    }
    const plinth::HeadPose& pose = *reading;
    const double now = monotonicNow();
    // The tracker re-delivers a held pose unchanged while the face is briefly lost; only a
    // fresh reading counts as seeing the user now.
    if (!lastPose_ || lastPose_->timestamp != pose.timestamp) {
        lastPoseSeenAt_ = now;
    }
    lastPose_ = pose;
    lastPoseUsable_ = true;

    if (screenLocked_) {
        status = GazeStatus::waiting("screen locked");
        return;
    }

    const Prefs& prefs = Prefs::shared();
    const double limit = prefs.turnThreshold() / 100.0 * 0.6 + 0.5;
    if (!(std::fabs(pose.yaw) < limit) || !(std::fabs(pose.pitch) < limit)) {
        gazePoint = std::nullopt;
        candidateSince_.reset();
        status = GazeStatus::waiting("looking away");
        lastPoseUsable_ = false;
        return;
    }

    const plinth::GazeModel& model = *CalibrationStore::shared().model();
    trackDrift(pose, model);

    const auto frames = globalDisplayFrames();
    const plinth::Point raw = model.predict(pose.features());
    const plinth::Point gaze = plinth::ScreenGeometry::clamp(raw, frames);
    // Published before the guards, so the dot follows the gaze while switching is held back.
    gazePoint = gaze;

    auto& services = platform();
    if (services.secureInput && services.secureInput->isSecureEventInputEnabled()) {
        holdSwitching("secure input");
        return;
    }
    // One window listing answers every window question of this pose.
    const auto windows = SystemGuards::snapshot();
    if (SystemGuards::isMenuOpen(windows)) {
        holdSwitching("menu open");
        return;
    }
    if (SystemGuards::isMissionControlActive(windows)) {
        // The platform names its own overview.
        holdSwitching(services.words ? services.words->overviewReason : "overview");
        return;
    }
    if (auto launcher = SystemGuards::activeLauncher()) {
        holdSwitching(std::move(*launcher));
        return;
    }
    if (now - guards_->lastTextKeystroke() < prefs.typingPauseSeconds()) {
        holdSwitching("typing");
        return;
    }
    constexpr std::uint64_t chordModifiers =
        ModifierFlag::control | ModifierFlag::option | ModifierFlag::command;
    if ((guards_->heldModifiers() & chordModifiers) != 0) {
        // The settle timer keeps running: releasing the chord may switch at once.
        status = GazeStatus::waiting("shortcut in progress");
        return;
    }
    if (prefs.respectMouse() && now - guards_->lastPointerMove() < pointerHoldSeconds) {
        holdSwitching("using pointer");
        return;
    }
    evaluate(gaze);
}

void GazeEngine::evaluate(plinth::Point gaze) {
    auto screen = FocusSwitcher::screenAt(gaze);
    if (!screen) {
        screen = FocusSwitcher::nearestScreen(gaze);
    }
    if (!screen) {
        return;
    }
    const std::string key = FocusSwitcher::key(*screen);
    const plinth::Rect frame = screen->frame;
    const Prefs& prefs = Prefs::shared();

    // At the side edges of another display the gaze may only be passing by on its way
    // elsewhere; the settle timer is left exactly as it was.
    if (plinth::ScreenGeometry::isNearVerticalEdge(gaze, frame, prefs.edgeMarginPoints()) &&
        activeScreenKey_ != key) {
        status = GazeStatus::waiting("near screen edge");
        return;
    }

    const double now = monotonicNow();
    if (candidateScreen_ && FocusSwitcher::key(*candidateScreen_) == key) {
        if (!candidateSince_) {
            // Disarmed: the gaze must rest elsewhere (or the face be lost) first.
            return;
        }
        const double settle =
            static_cast<double>(std::max<std::int64_t>(prefs.settleMilliseconds(), 0)) / 1000.0;
        const double sinceCopy = now - guards_->lastCopy();
        const double required = (settle > copySettleSeconds && sinceCopy < copyWindowSeconds)
                                    ? copySettleSeconds
                                    : settle;
        if (required <= now - *candidateSince_) {
            status = GazeStatus::tracking(screen->localizedName);
            if (activeScreenKey_ == key) {
                maybeSwitchPane(gaze);
            } else {
                switchScreen(*screen, gaze);
            }
        }
        return;
    }
    candidateScreen_ = screen;
    candidateSince_ = now;
}

void GazeEngine::switchScreen(const Display& screen, plinth::Point gaze) {
    const double started = monotonicNow();
    const auto window = switcher_.focus(screen, gaze);
    if (!window) {
        return; // the candidate stays settled, so the next pose tries again
    }
    // A warp by the switcher is not the user's own pointer movement.
    guards_->setLastPointerPosition(InputGuards::pointerLocation());
    activeScreenKey_ = FocusSwitcher::key(screen);
    panes_.clearLastPaneFrame();
    lastPaneSwitch_ = monotonicNow();
    // On the monotonic clock, so that the time to the window manager's answer can be measured.
    char startedText[32];
    std::snprintf(startedText, sizeof startedText, "%.6f", started);
    Log::info("focus switch to " + screen.localizedName + " started at " + startedText + " s");
    Log::info("focused " + window->ownerName + " on " + screen.localizedName);
}

void GazeEngine::maybeSwitchPane(plinth::Point gaze) {
    const double now = monotonicNow();
    const double delay =
        static_cast<double>(std::max<std::int64_t>(Prefs::shared().paneDelayMilliseconds(), 0)) /
        1000.0;
    if (delay > now - lastPaneSwitch_) {
        return;
    }
    const auto window = WindowFinder::windowAt(gaze);
    if (!window) {
        return;
    }
    const auto frontmost = platform().workspace->frontmostApplication();
    if (frontmost && frontmost->pid == window->pid) {
        if (panes_.focusPane(*window, gaze)) {
            lastPaneSwitch_ = now;
        }
        return;
    }
    // The gaze rests on another application's window on the focused display: follow it.
    const auto screen = FocusSwitcher::screenAt(gaze);
    if (!screen) {
        return;
    }
    switcher_.focus(*screen, gaze);
    guards_->setLastPointerPosition(InputGuards::pointerLocation());
    lastPaneSwitch_ = now;
}

void GazeEngine::trackDrift(const plinth::HeadPose& pose, const plinth::GazeModel& model) {
    if (driftSamples_.size() >= driftWindow) {
        driftSamples_.pop_front();
    }
    driftSamples_.push_back(model.distanceDrift(pose.area));
    if (driftSamples_.size() == driftWindow) {
        // Summed afresh, oldest first, so a mean of exactly a bound stays exactly the bound.
        const double mean = std::accumulate(driftSamples_.begin(), driftSamples_.end(), 0.0) /
                            static_cast<double>(driftWindow);
        needsRecalibration = mean > driftUpperBound || mean < driftLowerBound;
    }
}

} // namespace orvane
