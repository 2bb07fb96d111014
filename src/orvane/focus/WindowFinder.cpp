#include "orvane/focus/WindowFinder.hpp"

#include "orvane/focus/Accessibility.hpp"
#include "orvane/platform/Platform.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace orvane::WindowFinder {
namespace {

// An integral number, whether the server sent it as an integer or as a whole float.
std::optional<std::int64_t> integerValue(const WindowEntry& entry, const char* key) {
    auto found = entry.find(key);
    if (found == entry.end()) {
        return std::nullopt;
    }
    if (const auto* integer = std::get_if<std::int64_t>(&found->second)) {
        return *integer;
    }
    if (const auto* real = std::get_if<double>(&found->second)) {
        // 2^63 is the first double past the int64 range.
        if (std::trunc(*real) == *real && *real >= -9223372036854775808.0 &&
            *real < 9223372036854775808.0) {
            return static_cast<std::int64_t>(*real);
        }
    }
    return std::nullopt;
}

std::optional<plinth::Rect> rectValue(const WindowEntry& entry, const char* key) {
    auto found = entry.find(key);
    if (found == entry.end()) {
        return std::nullopt;
    }
    const auto* rect = std::get_if<plinth::Rect>(&found->second);
    if (rect == nullptr || !std::isfinite(rect->x) || !std::isfinite(rect->y) ||
        !std::isfinite(rect->width) || !std::isfinite(rect->height)) {
        return std::nullopt;
    }
    return *rect;
}

std::string textValue(const WindowEntry& entry, const char* key) {
    auto found = entry.find(key);
    if (found == entry.end()) {
        return {};
    }
    const auto* text = std::get_if<std::string>(&found->second);
    return text != nullptr ? *text : std::string();
}

template <typename Int> bool fits(std::int64_t value) {
    return value >= std::numeric_limits<Int>::min() && value <= std::numeric_limits<Int>::max();
}

std::optional<ScreenWindow> parse(const WindowEntry& entry, std::int64_t index) {
    const auto pid = integerValue(entry, WindowKey::ownerPID);
    if (!pid || !fits<std::int32_t>(*pid)) {
        return std::nullopt;
    }
    const auto number = integerValue(entry, WindowKey::number);
    if (!number || !fits<std::uint32_t>(*number)) {
        return std::nullopt;
    }
    const auto bounds = rectValue(entry, WindowKey::bounds);
    if (!bounds) {
        return std::nullopt;
    }
    // Menus, panels, docks and overlays sit on other layers. A missing layer is normal.
    if (const auto layer = integerValue(entry, WindowKey::layer); layer && *layer != 0) {
        return std::nullopt;
    }
    if (!(bounds->width > 80 && bounds->height > 60)) {
        return std::nullopt;
    }
    return ScreenWindow{
        static_cast<std::int32_t>(*pid),        static_cast<std::uint32_t>(*number), *bounds,
        textValue(entry, WindowKey::ownerName), textValue(entry, WindowKey::name),   index};
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

std::optional<AXElementRef> axWindow(const ScreenWindow& window) {
    auto& service = *platform().accessibility;
    const AXElementRef application = service.applicationElement(window.pid);
    const AXResult answer = service.copyAttribute(application, AXAttribute::windows);
    if (!answer.ok()) {
        return std::nullopt;
    }
    const auto* candidates = std::get_if<std::vector<AXElementRef>>(&answer.value);
    if (candidates == nullptr) {
        return std::nullopt;
    }
    double bestScore = std::numeric_limits<double>::max();
    AXElementRef best;
    for (const auto& candidate : *candidates) {
        const auto frame = Accessibility::frame(candidate);
        if (!frame) {
            continue;
        }
        const double score = std::hypot(frame->x - window.frame.x, frame->y - window.frame.y) +
                             std::abs(frame->width - window.frame.width) +
                             std::abs(frame->height - window.frame.height);
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
