#include "orvane/support/GazeReport.hpp"

#include "orvane/engine/GazeEngine.hpp"
#include "orvane/platform/Platform.hpp"
#include "plinth/Numeric.hpp"
#include "plinth/ScreenGeometry.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

namespace orvane {
namespace {

constexpr const char* unknown = "—";

std::string degrees(double radians) {
    char text[16];
    std::snprintf(text, sizeof text, "%+d°",
                  static_cast<int>(std::lround(std::clamp(radians, -M_PI, M_PI) * 180 / M_PI)));
    return text;
}

std::string whole(double value) {
    return std::to_string(plinth::truncatedToInt64(std::round(value)));
}

std::string head(const GazeEngine& engine) {
    const auto& pose = engine.lastPose();
    if (!pose || engine.status.get().kind == GazeStatus::Kind::noFace) {
        return std::string("head ") + (pose ? "lost" : unknown);
    }
    return "head yaw " + degrees(pose->yaw) + " pitch " + degrees(pose->pitch);
}

std::string gaze(const GazeEngine& engine) {
    const auto& point = engine.gazePoint.get();
    if (!point) {
        return std::string("gaze ") + unknown;
    }
    std::string text = "gaze (" + whole(point->x) + ", " + whole(point->y) + ")";
    const auto& displays = platform().displays;
    if (!displays) {
        return text;
    }
    const auto screens = displays->screens();
    std::vector<plinth::Rect> frames;
    for (const auto& screen : screens) {
        frames.push_back(screen.frame);
    }
    if (const auto index = plinth::ScreenGeometry::frameContaining(*point, frames)) {
        const auto& name = screens[*index].localizedName;
        text += " on " + (name.empty() ? "display " + std::to_string(*index + 1) : name);
    }
    return text;
}

// The frontmost application's front ordinary window, by title, with the application's name.
std::string focus() {
    const auto& services = platform();
    const auto front =
        services.workspace ? services.workspace->frontmostApplication() : std::nullopt;
    if (!front) {
        return std::string("focus: ") + unknown;
    }
    const std::string owner = front->localizedName.value_or(std::to_string(front->pid));
    const auto windows =
        services.windowServer ? services.windowServer->onScreenWindows() : std::nullopt;
    for (const auto& entry : windows.value_or(std::vector<WindowRecord>{})) {
        if (entry.ownerPid == front->pid && entry.layer == 0) {
            const auto& title = entry.title;
            if (title && !title->empty()) {
                return "focus: " + *title + " (" + owner + ")";
            }
            break;
        }
    }
    return "focus: " + owner;
}

} // namespace

GazeReport::GazeReport(std::shared_ptr<GazeEngine> engine,
                       std::function<void(const std::string&)> write)
    : engine_(std::move(engine)), write_(std::move(write)),
      startedAt_(platform().clock->monotonic()) {
    // The report holds the timer and the timer only a plain pointer: the timer goes first.
    timer_ = platform().mainQueue->repeating(interval, 0.1, [this] { write_(line()); });
}

GazeReport::~GazeReport() {
    if (timer_) {
        timer_->cancel();
    }
}

std::string GazeReport::line() const {
    const double seconds = platform().clock->monotonic() - startedAt_;
    char elapsed[24];
    std::snprintf(elapsed, sizeof elapsed, "%3lld s",
                  static_cast<long long>(plinth::truncatedToInt64(std::round(seconds))));
    return std::string(elapsed) + "  " + head(*engine_) + "  " + gaze(*engine_) + "  " + focus() +
           "  [" + describe(engine_->status.get()) + "]";
}

} // namespace orvane
