#include "orvane/calibration/CalibrationController.hpp"

#include "orvane/calibration/CalibrationStore.hpp"
#include "orvane/focus/FocusSwitcher.hpp"
#include "orvane/platform/Platform.hpp"
#include "orvane/support/Log.hpp"
#include "orvane/support/Prefs.hpp"
#include "plinth/GazeModel.hpp"
#include "plinth/Numeric.hpp"

#include <algorithm>
#include <charconv>
#include <utility>

namespace orvane {
namespace {

constexpr const char* cameraAccessRequired = "Camera access is required.";
constexpr const char* tooFewSamples =
    "Not enough of your face was visible. Try again with more light.";
constexpr const char* notSolved = "Calibration could not be solved. Try again.";
constexpr const char* tooInconsistent =
    "Readings were too inconsistent. Try turning your head a little more toward each dot.";
constexpr const char* displaysChangedMessage =
    "Your displays changed during calibration. Try again.";
constexpr const char* noCalibrationScreen = "The calibration screen could not be shown. Try again.";

// The shortest text that reads back as the same double ("0.12", not "0.120000").
std::string shortest(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

} // namespace

std::shared_ptr<CalibrationController> CalibrationController::make() {
    return std::shared_ptr<CalibrationController>(new CalibrationController());
}

CalibrationController::CalibrationController()
    : camera_(CameraCapture::make()), tracker_(std::make_shared<HeadPoseTracker>()) {}

CalibrationController::~CalibrationController() {
    if (pendingWait_) {
        pendingWait_->cancel();
    }
    camera_->stop();
}

void CalibrationController::start(Completion completion) {
    if (isRunning) {
        return;
    }
    const auto& camera = platform().camera;
    if (!camera || camera->authorizationStatus() != CameraAuthorization::authorized) {
        if (completion) {
            completion(false, std::string(cameraAccessRequired));
        }
        return;
    }
    Log::info("calibration: start() called");

    displays_.clear();
    for (const auto& display : platform().displays->screens()) {
        displays_.push_back({display, FocusSwitcher::key(display), display.frame});
    }
    layoutSignature_ = CalibrationStore::currentLayoutSignature();
    displayIndex_ = 0;
    targetIndex_ = 0;
    step_ = 0;
    collected_.clear();
    poseBuffer_.clear();
    isSampling_ = false;
    latestPose_.reset();
    onFinish_ = std::move(completion);
    const std::uint64_t run = ++runNumber_;

    // Nothing of the last run shows in this one's screens.
    progress = 0.0;
    faceVisible = false;
    dotIsSampling = false;
    if (!displays_.empty()) {
        const auto& first = displays_.front();
        currentScreenName = first.display.localizedName;
        activeScreenID = first.key;
        dotPosition = plinth::Point{targets[0].x * first.globalFrame.width,
                                    targets[0].y * first.globalFrame.height};
    } else {
        currentScreenName = std::string();
        activeScreenID = std::string();
        dotPosition = plinth::Point{};
    }
    isRunning = true;

    installPipeline(run);
    watchDisplays(run);
    camera_->start(Prefs::shared().cameraID());
    const bool shown = presentWindows();

    std::weak_ptr<CalibrationController> weak = weak_from_this();
    platform().mainQueue->post([weak, run, shown] {
        auto self = weak.lock();
        if (!self || !self->isCurrent(run)) {
            return;
        }
        if (!shown) {
            self->finish(false, std::string(noCalibrationScreen));
            return;
        }
        self->showDot(run);
    });
}

void CalibrationController::installPipeline(std::uint64_t run) {
    std::weak_ptr<CalibrationController> weak = weak_from_this();
    std::shared_ptr<MainQueue> mainQueue = platform().mainQueue;
    tracker_->setOnPose([weak, run, mainQueue](const std::optional<plinth::HeadPose>& pose) {
        mainQueue->post([weak, run, pose] {
            // A pose still in flight from an earlier run is no reading of this one.
            if (auto self = weak.lock(); self && self->runNumber_ == run) {
                self->receive(pose);
            }
        });
    });
    std::weak_ptr<HeadPoseTracker> tracker = tracker_;
    camera_->setOnFrame([tracker](const PixelBuffer& frame) {
        if (auto alive = tracker.lock()) {
            alive->process(frame);
        }
    });
    camera_->setOnError([weak, run, mainQueue](const std::string& message) {
        // Reported from inside `start`: the run ends once `start` has returned.
        mainQueue->post([weak, run, message] {
            if (auto self = weak.lock(); self && self->isCurrent(run)) {
                Log::error("calibration camera: " + message);
                self->finish(false, message);
            }
        });
    });
}

void CalibrationController::watchDisplays(std::uint64_t run) {
    displayWatch_.reset();
    const auto& workspace = platform().workspace;
    if (!workspace) {
        return; // the check before storing still catches a change
    }
    std::weak_ptr<CalibrationController> weak = weak_from_this();
    std::shared_ptr<MainQueue> mainQueue = platform().mainQueue;
    displayWatch_ = workspace->observe(WorkspaceEvent::displaysChanged, [weak, run, mainQueue] {
        mainQueue->post([weak, run] {
            auto self = weak.lock();
            if (self && self->isCurrent(run) && self->displaysChanged()) {
                Log::error("calibration: displays changed during the run");
                self->finish(false, std::string(displaysChangedMessage));
            }
        });
    });
}

bool CalibrationController::displaysChanged() const {
    return CalibrationStore::currentLayoutSignature() != layoutSignature_;
}

void CalibrationController::receive(const std::optional<plinth::HeadPose>& pose) {
    faceVisible = pose.has_value();
    latestPose_ = pose;
    if (isSampling_ && pose) {
        poseBuffer_.push_back(*pose);
    }
}

bool CalibrationController::presentWindows() {
    Log::info("calibration: presenting " + std::to_string(displays_.size()) +
              " fullscreen windows");
    const auto& toolkit = platform().uiToolkit;
    if (!toolkit) {
        Log::error("calibration: no toolkit to draw the calibration screens");
        return displays_.empty();
    }
    bool allShown = true;
    for (const auto& entry : displays_) {
        if (auto window = toolkit->presentCalibrationWindow(entry.display, entry.key)) {
            windows_.push_back(std::move(window));
        } else {
            // A display without its screen would show the user no dot to look at.
            Log::error("calibration: could not make the window for display " + entry.key);
            allShown = false;
        }
    }
    toolkit->activateIgnoringOtherApps();
    return allShown;
}

void CalibrationController::wait(double seconds, std::uint64_t run,
                                 void (CalibrationController::*next)(std::uint64_t)) {
    std::weak_ptr<CalibrationController> weak = weak_from_this();
    pendingWait_ = platform().mainQueue->after(seconds, [weak, run, next] {
        if (auto self = weak.lock()) {
            (self.get()->*next)(run);
        }
    });
}

void CalibrationController::showDot(std::uint64_t run) {
    if (!isCurrent(run)) {
        return;
    }
    if (displayIndex_ >= displays_.size()) {
        finalize();
        return;
    }
    const auto& entry = displays_[displayIndex_];
    if (targetIndex_ == 0) {
        currentScreenName = entry.display.localizedName;
        activeScreenID = entry.key;
    }
    const auto target = targets[targetIndex_];
    dotPosition =
        plinth::Point{target.x * entry.globalFrame.width, target.y * entry.globalFrame.height};
    dotIsSampling = false;
    wait(showSeconds, run, &CalibrationController::beginSampling);
}

void CalibrationController::beginSampling(std::uint64_t run) {
    if (!isCurrent(run)) {
        return;
    }
    poseBuffer_.clear();
    isSampling_ = true;
    dotIsSampling = true;
    wait(sampleSeconds, run, &CalibrationController::endSampling);
}

void CalibrationController::endSampling(std::uint64_t run) {
    if (!isCurrent(run)) {
        return;
    }
    isSampling_ = false;
    dotIsSampling = false;
    const auto& entry = displays_[displayIndex_];
    record(targets[targetIndex_], entry.globalFrame);
    ++step_;
    progress = static_cast<double>(step_) / static_cast<double>(displays_.size() * targets.size());
    if (++targetIndex_ == targets.size()) {
        targetIndex_ = 0;
        ++displayIndex_;
    }
    showDot(run);
}

void CalibrationController::record(plinth::Point target, const plinth::Rect& globalFrame) {
    if (poseBuffer_.size() < minimumPosesPerDot) {
        Log::error("too few poses for target (x: " + shortest(target.x) +
                   ", y: " + shortest(target.y) + ")");
        return;
    }
    // Stable: among equal yaws the first and last to arrive are the ones dropped.
    std::stable_sort(
        poseBuffer_.begin(), poseBuffer_.end(),
        [](const plinth::HeadPose& a, const plinth::HeadPose& b) { return a.yaw < b.yaw; });
    const std::size_t trim = poseBuffer_.size() / 6;
    const auto first = poseBuffer_.begin() + static_cast<std::ptrdiff_t>(trim);
    const auto last = poseBuffer_.end() - static_cast<std::ptrdiff_t>(trim);
    const auto kept = static_cast<double>(last - first);

    std::vector<double> features(plinth::HeadPose::featureCount, 0.0);
    double area = 0;
    for (auto pose = first; pose != last; ++pose) {
        const auto values = pose->features();
        for (std::size_t i = 0; i < features.size(); ++i) {
            features[i] += values[i];
        }
        area += pose->area;
    }
    for (auto& value : features) {
        value /= kept;
    }
    collected_.push_back({std::move(features), globalFrame.minX() + target.x * globalFrame.width,
                          globalFrame.minY() + target.y * globalFrame.height, area / kept});
}

void CalibrationController::finalize() {
    if (displaysChanged()) {
        // The targets were measured on an arrangement that is gone.
        finish(false, std::string(displaysChangedMessage));
        return;
    }
    if (collected_.size() < minimumSamples) {
        finish(false, std::string(tooFewSamples));
        return;
    }
    // Judged on the new samples alone: a run that is not good enough leaves the calibration
    // (and what was learnt from clicks) as it was.
    const auto model = plinth::GazeModel::fit(collected_);
    if (!model) {
        Log::error("calibration: the " + std::to_string(collected_.size()) +
                   " samples of the run could not be fitted");
        finish(false, std::string(notSolved));
        return;
    }
    if (model->meanError > maximumMeanError) {
        Log::error("calibration: rejected with mean error " +
                   std::to_string(plinth::truncatedToInt64(model->meanError)) + "pt");
        finish(false, std::string(tooInconsistent));
        return;
    }
    CalibrationStore::shared().replace(collected_);
    finish(true, std::nullopt);
}

void CalibrationController::finish(bool success, std::optional<std::string> message) {
    if (pendingWait_) {
        pendingWait_->cancel();
        pendingWait_.reset();
    }
    displayWatch_.reset();
    isSampling_ = false;
    camera_->stop();
    // On the camera queue, so the reset never interleaves with a frame being processed.
    std::weak_ptr<HeadPoseTracker> tracker = tracker_;
    camera_->queue()->async([tracker] {
        if (auto alive = tracker.lock()) {
            alive->reset();
        }
    });
    auto windows = std::move(windows_);
    windows_.clear();
    for (auto& window : windows) {
        window->orderOut();
    }
    // Taken before anyone hears of the end: a completion that starts the next run (or an alert
    // that runs a nested loop) must neither lose it nor be called twice.
    auto completion = std::exchange(onFinish_, nullptr);
    isRunning = false;
    dotIsSampling = false;
    if (completion) {
        completion(success, std::move(message));
    }
}

} // namespace orvane
