#include "orvane/support/CameraProbe.hpp"

#include "orvane/calibration/CalibrationStore.hpp"
#include "orvane/camera/CameraCapture.hpp"
#include "orvane/camera/HeadPoseTracker.hpp"
#include "orvane/platform/Platform.hpp"
#include "orvane/support/Prefs.hpp"
#include "plinth/ScreenGeometry.hpp"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace orvane::CameraProbe {
namespace {

constexpr double slice = 0.25;
// How long the capture may take to stop once the probe is over.
constexpr double stopTimeout = 5;
constexpr double calibrationErrorLimit = 300;
// How long the face detector may take to read its models before the probe starts anyway.
constexpr double loadTimeout = 120;

// What the camera queue reports to the main thread.
struct Counts {
    std::mutex mutex;
    std::int64_t processed = 0;
    std::int64_t faces = 0;
    std::optional<plinth::HeadPose> lastPose;
};

[[gnu::format(printf, 1, 2)]] std::string format(const char* pattern, ...) {
    char text[256];
    va_list arguments;
    va_start(arguments, pattern);
    std::vsnprintf(text, sizeof text, pattern, arguments);
    va_end(arguments);
    return text;
}

// Each line goes out at once, so a probe cut short still shows how far it got.
void print(std::ostream& out, const std::string& line) {
    out << line << '\n' << std::flush;
}

void printPrediction(std::ostream& out, const plinth::HeadPose& pose,
                     const plinth::GazeModel& model) {
    // Without a display (a remote shell, a server) the pose is still worth printing.
    const auto& displays = platform().displays;
    const auto screens = displays ? displays->screens() : std::vector<Display>{};
    std::vector<plinth::Rect> frames;
    for (const auto& screen : screens) {
        frames.push_back(screen.frame);
    }
    const auto raw = model.predict(pose.features());
    const auto clamped = plinth::ScreenGeometry::clamp(raw, frames);

    print(out, format("last head pose:  yaw %.3f  pitch %.3f  face at (%.2f, %.2f)", pose.yaw,
                      pose.pitch, pose.centerX, pose.centerY));
    print(out, format("raw prediction:  (%.0f, %.0f)", raw.x, raw.y));
    print(out, format("after clamping:  (%.0f, %.0f)", clamped.x, clamped.y));
    auto index = plinth::ScreenGeometry::frameContaining(clamped, frames);
    if (!index) {
        index = plinth::ScreenGeometry::nearestFrame(clamped, frames);
    }
    if (index) {
        print(out, "looking at:      " + screens[*index].localizedName);
    }
    if (!plinth::ScreenGeometry::frameContaining(raw, frames)) {
        const auto nearest = plinth::ScreenGeometry::nearestFrame(raw, frames);
        const double distance =
            nearest ? plinth::ScreenGeometry::distance(frames[*nearest], raw) : 0;
        print(out, format("\nNOTE: raw prediction fell %.0f pt outside every display.", distance));
        print(out, "      Clamping keeps it usable, but recalibrating would improve accuracy.");
    }
    if (model.meanError > calibrationErrorLimit) {
        print(out, format("NOTE: calibration error is %.0f pt — recalibrating is recommended.",
                          model.meanError));
    }
}

// Runs the main queue until everything scheduled on `queue` so far has run, or for at most
// `stopTimeout`.
void waitForQueue(SerialQueue& queue) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    queue.async([done] { done->store(true); });
    auto& mainQueue = *platform().mainQueue;
    const auto& clock = *platform().clock;
    const double deadline = clock.monotonic() + stopTimeout;
    mainQueue.runUntil(clock.monotonic()); // what is ready now, without waiting
    while (!done->load() && clock.monotonic() < deadline) {
        mainQueue.runUntil(std::min(clock.monotonic() + 0.01, deadline));
    }
}

// The probe times the pipeline, not the start-up: on a slow machine reading the face model
// would eat much of a short probe and show no faces at all.
void waitForFaceDetector(std::ostream& out) {
    const auto& detector = platform().faceDetector;
    if (!detector || !detector->isLoading()) {
        return;
    }
    print(out, "loading the face model…");
    auto& mainQueue = *platform().mainQueue;
    const auto& clock = *platform().clock;
    const double deadline = clock.monotonic() + loadTimeout;
    while (detector->isLoading() && clock.monotonic() < deadline) {
        mainQueue.runUntil(std::min(clock.monotonic() + 0.05, deadline));
    }
}

} // namespace

void run(std::int64_t seconds, std::ostream& out) {
    print(out, "Orvane camera probe — " + std::to_string(seconds) + "s");
    print(out, "");
    waitForFaceDetector(out);

    auto counts = std::make_shared<Counts>();
    auto capture = CameraCapture::make();
    auto tracker = std::make_shared<HeadPoseTracker>();
    capture->setOnError(
        [&out](const std::string& message) { print(out, "camera error: " + message); });
    capture->setOnFrame([counts, tracker](const PixelBuffer& frame) {
        {
            std::lock_guard lock(counts->mutex);
            ++counts->processed;
        }
        tracker->process(frame);
    });
    tracker->setOnPose([counts](const std::optional<plinth::HeadPose>& pose) {
        if (pose) {
            std::lock_guard lock(counts->mutex);
            ++counts->faces;
            counts->lastPose = pose;
        }
    });

    print(out, "starting capture…");
    capture->start(Prefs::shared().cameraID());

    auto& mainQueue = *platform().mainQueue;
    const auto& clock = *platform().clock;
    const double deadline = clock.monotonic() + static_cast<double>(seconds);
    while (clock.monotonic() < deadline) {
        mainQueue.runUntil(std::min(clock.monotonic() + slice, deadline));
    }
    capture->stop();
    // The platform may be torn down as soon as the probe returns: nothing of the capture may
    // still run by then. Its last frame and its session's stop run first, then, once it is
    // gone, the session's release; the queue is the probe's own after that.
    const auto queue = capture->queue();
    waitForQueue(*queue);
    const std::int64_t received = capture->framesReceived();
    capture.reset();
    waitForQueue(*queue);
    // Frames that could not be looked at are no sign of bad lighting: the reason is the verdict.
    const auto detectionError = tracker->detectionError();

    std::int64_t processed = 0;
    std::int64_t faces = 0;
    std::optional<plinth::HeadPose> lastPose;
    {
        std::lock_guard lock(counts->mutex);
        processed = counts->processed;
        faces = counts->faces;
        lastPose = counts->lastPose;
    }
    // Plain averages over the requested time; nothing to average over without one.
    auto rate = [seconds](std::int64_t frames) {
        return seconds > 0 ? static_cast<double>(frames) / static_cast<double>(seconds) : 0.0;
    };
    print(out, format("\ncamera delivers:  %.1f fps", rate(received)));
    print(out, format("we process:       %.1f fps  (%lld frames)", rate(processed),
                      static_cast<long long>(processed)));
    print(out, "faces detected:   " + std::to_string(faces));

    if (lastPose) {
        if (const auto& model = CalibrationStore::shared().model()) {
            printPrediction(out, *lastPose, *model);
        }
    }
    print(out, "");
    if (processed == 0) {
        print(out, "VERDICT: no frames — the camera never started");
    } else if (faces == 0 && detectionError) {
        print(out, "VERDICT: " + *detectionError);
    } else if (faces == 0) {
        print(out, "VERDICT: frames arrive but no face was found (lighting? camera covered?)");
    } else {
        print(out, "VERDICT: pipeline healthy");
    }
}

} // namespace orvane::CameraProbe
