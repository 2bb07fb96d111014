#include "orvane/focus/WindowFinder.hpp"

#include "orvane/platform/Platform.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace orvane::WindowFinder {
namespace {

template <typename Int> bool fits(std::int64_t value) {
    return value >= std::numeric_limits<Int>::min() && value <= std::numeric_limits<Int>::max();
}

std::optional<ScreenWindow> parse(const WindowRecord& record, std::int64_t index) {
    const auto& pid = record.ownerPid;
    if (!pid || !fits<std::int32_t>(*pid)) {
        return std::nullopt;
    }
    const auto& number = record.number;
    if (!number || !fits<std::uint32_t>(*number)) {
        return std::nullopt;
    }
    const auto& bounds = record.bounds;
    if (!bounds || !bounds->isFinite()) {
        return std::nullopt;
    }
    // Menus, panels, docks and overlays sit on other layers. A missing layer is normal.
    if (record.layer.value_or(0) != 0) {
        return std::nullopt;
    }
    if (!(bounds->width > 80 && bounds->height > 60)) {
        return std::nullopt;
    }
    auto content = record.contentBounds;
    if (content && !content->isFinite()) {
        content.reset();
    }
    return ScreenWindow{static_cast<std::int32_t>(*pid),
                        static_cast<std::uint32_t>(*number),
                        *bounds,
                        record.ownerName.value_or(""),
                        record.title.value_or(""),
                        index,
                        content};
}

double matchScore(const plinth::Rect& a, const plinth::Rect& b) {
    return std::hypot(a.x - b.x, a.y - b.y) + std::abs(a.width - b.width) +
           std::abs(a.height - b.height);
}

} // namespace

bool contains(const plinth::Rect& rect, plinth::Point point) {
    return rect.minX() <= point.x && point.x < rect.maxX() && rect.minY() <= point.y &&
           point.y < rect.maxY();
}

bool intersects(const plinth::Rect& a, const plinth::Rect& b) {
    return a.minX() < b.maxX() && b.minX() < a.maxX() && a.minY() < b.maxY() && b.minY() < a.maxY();
}

std::vector<ScreenWindow> windowsFrontToBack() {
    const auto entries = platform().windowServer->onScreenWindows();
    std::vector<ScreenWindow> windows;
    if (!entries) {
        return windows;
    }
    for (std::size_t i = 0; i < entries->size(); ++i) {
        if (auto window = parse((*entries)[i], static_cast<std::int64_t>(i))) {
            windows.push_back(std::move(*window));
        }
    }
    return windows;
}

std::optional<ScreenWindow> windowAt(plinth::Point point) {
    for (auto& window : windowsFrontToBack()) {
        if (contains(window.frame, point)) {
            return window;
        }
    }
    return std::nullopt;
}

std::optional<ScreenWindow> frontmostWindow(const plinth::Rect& rect) {
    for (auto& window : windowsFrontToBack()) {
        if (intersects(window.frame, rect)) {
            return window;
        }
    }
    return std::nullopt;
}

std::optional<AccessibleRef> accessibleWindow(const ScreenWindow& window) {
    auto& service = *platform().accessibility;
    const auto candidates = service.windows(service.applicationElement(window.pid)).value();
    if (!candidates) {
        return std::nullopt;
    }
    double bestScore = std::numeric_limits<double>::max();
    AccessibleRef best;
    for (const auto& candidate : *candidates) {
        const auto frame = service.frame(candidate).value();
        if (!frame) {
            continue;
        }
        double score = matchScore(*frame, window.frame);
        if (window.contentFrame) {
            score = std::min(score, matchScore(*frame, *window.contentFrame));
        }
        // Strictly smaller: on a tie the window earlier in the list (nearer the front) wins.
        if (score < bestScore) {
            bestScore = score;
            best = candidate;
        }
    }
    if (!best || !(bestScore < matchTolerance)) {
        return std::nullopt;
    }
    return best;
}

} // namespace orvane::WindowFinder
