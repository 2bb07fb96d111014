#pragma once

#include <algorithm>
#include <cmath>

namespace plinth {

struct Point {
    double x = 0, y = 0;

    friend bool operator==(const Point&, const Point&) = default;
};

// A rectangle as the platform reports it; the extremes normalise a negative width or height.
struct Rect {
    double x = 0, y = 0, width = 0, height = 0;

    double minX() const { return std::min(x, x + width); }
    double maxX() const { return std::max(x, x + width); }
    double minY() const { return std::min(y, y + height); }
    double maxY() const { return std::max(y, y + height); }

    friend bool operator==(const Rect&, const Rect&) = default;

    // Whether every coordinate is a number: a peer's rectangle may be anything.
    bool isFinite() const {
        return std::isfinite(x) && std::isfinite(y) && std::isfinite(width) &&
               std::isfinite(height);
    }
};

} // namespace plinth
