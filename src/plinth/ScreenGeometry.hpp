#pragma once

#include "plinth/Geometry.hpp"

#include <cstddef>
#include <optional>
#include <vector>

namespace plinth {

// Pure functions over display frames. Frame lists are in the platform's display order and
// results are positions in them.
namespace ScreenGeometry {

// Between the global top-left space (origin top-left of the primary display, y down) and the
// y-up space that calibration files name their display layouts in (origin bottom-left of the
// primary display). Its own inverse; x is unchanged.
Rect flipVertically(const Rect& rect, const Rect& primary);

// The screen space is the whole desktop's, origin at its top-left corner, y down: the X root
// window's and every compositor's layout space. `primary` is the primary display's frame in it.
Rect globalFrameFromScreen(const Rect& screen, const Rect& primary);
Point globalFromScreen(Point screen, const Rect& primary);
Point screenFromGlobal(Point global, const Rect& primary);

// First frame holding the point, half-open: a point on a right or bottom edge belongs to the
// neighbour across it.
std::optional<std::size_t> frameContaining(Point point, const std::vector<Rect>& frames);

// Frame at the smallest distance; ties go to the earlier frame.
std::optional<std::size_t> nearestFrame(Point point, const std::vector<Rect>& frames);

// 0 inside or on the border, else the straight-line gap to the rectangle.
double distance(const Rect& rect, Point point);

// A point on no display is pulled one point inside the nearest one, so that a later
// containment test finds it there. Unchanged when on a display or when there are none.
Point clamp(Point point, const std::vector<Rect>& frames);

// Within margin of the left or right edge (strictly); y is not consulted.
bool isNearVerticalEdge(Point point, const Rect& rect, double margin);

} // namespace ScreenGeometry

} // namespace plinth
