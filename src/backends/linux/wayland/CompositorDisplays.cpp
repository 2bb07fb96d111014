#include "backends/linux/wayland/CompositorDisplays.hpp"

#include "backends/linux/wayland/CompositorLink.hpp"
#include "plinth/ScreenGeometry.hpp"

#include <algorithm>
#include <functional>

namespace orvane::linuxbackend {
namespace {

// Two monitors of one model (or two virtual ones) would read alike: their connectors tell them
// apart.
std::string nameOf(const CompositorMonitor& monitor, const std::vector<CompositorMonitor>& all) {
    if (monitor.name.empty()) {
        return monitor.connector;
    }
    const auto alike = std::count_if(all.begin(), all.end(), [&](const CompositorMonitor& other) {
        return other.name == monitor.name;
    });
    return alike > 1 ? monitor.name + " (" + monitor.connector + ")" : monitor.name;
}

Display displayOf(const CompositorMonitor& monitor, const std::vector<CompositorMonitor>& all,
                  const plinth::Rect& primary) {
    Display display;
    // The connector names the output for as long as it stays plugged in.
    display.id = static_cast<std::uint32_t>(std::hash<std::string>{}(monitor.connector));
    display.frame = plinth::ScreenGeometry::globalFrameFromScreen(monitor.stageFrame, primary);
    display.visibleFrame = display.frame;
    display.localizedName = nameOf(monitor, all);
    return display;
}

} // namespace

CompositorDisplays::CompositorDisplays(std::shared_ptr<CompositorLink> link)
    : link_(std::move(link)) {}

std::optional<plinth::Rect> CompositorDisplays::primaryStage(const CompositorSnapshot& snapshot) {
    if (!snapshot.ready || !snapshot.monitors || snapshot.monitors->empty()) {
        return std::nullopt;
    }
    for (const auto& monitor : *snapshot.monitors) {
        if (monitor.primary) {
            return monitor.stageFrame;
        }
    }
    return snapshot.monitors->front().stageFrame;
}

std::vector<Display> CompositorDisplays::screens() const {
    const auto snapshot = link_->snapshot();
    const auto primary = primaryStage(snapshot);
    if (!primary) {
        return {};
    }
    std::vector<Display> displays;
    bool primaryTaken = false;
    for (const auto& monitor : *snapshot.monitors) {
        auto display = displayOf(monitor, *snapshot.monitors, *primary);
        if (!primaryTaken && monitor.stageFrame == *primary) {
            displays.insert(displays.begin(), std::move(display));
            primaryTaken = true;
        } else {
            displays.push_back(std::move(display));
        }
    }
    return displays;
}

std::optional<Display> CompositorDisplays::mainDisplay() const {
    const auto snapshot = link_->snapshot();
    const auto primary = primaryStage(snapshot);
    if (!primary || snapshot.focusWindow == 0 || !snapshot.windows) {
        return std::nullopt;
    }
    for (const auto& window : *snapshot.windows) {
        if (window.id == snapshot.focusWindow && window.monitor >= 0 &&
            static_cast<std::size_t>(window.monitor) < snapshot.monitors->size()) {
            return displayOf((*snapshot.monitors)[static_cast<std::size_t>(window.monitor)],
                             *snapshot.monitors, *primary);
        }
    }
    return std::nullopt;
}

} // namespace orvane::linuxbackend
