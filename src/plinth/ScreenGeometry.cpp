#include "plinth/ScreenGeometry.hpp"

#include <algorithm>
#include <cmath>

namespace plinth::ScreenGeometry {

namespace {

bool contains(const Rect& rect, Point point) {
    return rect.minX() <= point.x && point.x < rect.maxX() && rect.minY() <= point.y &&
           point.y < rect.maxY();
}

} // namespace

Rect flipVertically(const Rect& rect, const Rect& primary) {
    return {rect.x, primary.maxY() - rect.maxY(), rect.width, rect.height};
}

Rect globalFrameFromScreen(const Rect& screen, const Rect& primary) {
    return {screen.x - primary.x, screen.y - primary.y, screen.width, screen.height};
}

Point globalFromScreen(Point screen, const Rect& primary) {
    return {screen.x - primary.x, screen.y - primary.y};
}

Point screenFromGlobal(Point global, const Rect& primary) {
    return {global.x + primary.x, global.y + primary.y};
}

std::optional<std::size_t> frameContaining(Point point, const std::vector<Rect>& frames) {
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (contains(frames[i], point)) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> nearestFrame(Point point, const std::vector<Rect>& frames) {
    if (frames.empty()) {
        return std::nullopt;
    }
    if (frames.size() == 1) {
        return 0;
    }
    std::size_t best = 0;
    double bestDistance = distance(frames[0], point);
    for (std::size_t i = 1; i < frames.size(); ++i) {
        const double d = distance(frames[i], point);
        if (d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

double distance(const Rect& rect, Point point) {
    const double dx = std::max({rect.minX() - point.x, 0.0, point.x - rect.maxX()});
    const double dy = std::max({rect.minY() - point.y, 0.0, point.y - rect.maxY()});
    return std::sqrt(dx * dx + dy * dy);
}

Point clamp(Point point, const std::vector<Rect>& frames) {
    if (frameContaining(point, frames)) {
        return point;
    }
    const auto nearest = nearestFrame(point, frames);
    if (!nearest) {
        return point;
    }
    const Rect& frame = frames[*nearest];
    // min over max: in a frame narrower than two points the upper bound wins.
    return {std::min(std::max(point.x, frame.minX() + 1), frame.maxX() - 1),
            std::min(std::max(point.y, frame.minY() + 1), frame.maxY() - 1)};
}

bool isNearVerticalEdge(Point point, const Rect& rect, double margin) {
    return point.x < rect.minX() + margin || point.x > rect.maxX() - margin;
}

} // namespace plinth::ScreenGeometry
