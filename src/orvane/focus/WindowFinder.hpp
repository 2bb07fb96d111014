#pragma once

#include "orvane/focus/ScreenWindow.hpp"
#include "orvane/platform/AccessibilityService.hpp"
#include "plinth/Geometry.hpp"

#include <optional>
#include <vector>

namespace orvane {

// Questions about other applications' windows. Nothing is cached: every call asks the window
// server (and the accessibility service) afresh, and every failure is simply no answer.
namespace WindowFinder {

// An accessibility window further than this (origin distance + size differences) from the
// window server's frame is some other window.
inline constexpr double matchTolerance = 12.0;

// Ordinary on-screen windows (normal layer, larger than 80 x 60), frontmost first. Entries
// with missing or malformed keys are skipped one by one.
std::vector<ScreenWindow> windowsFrontToBack();

// The frontmost window whose frame holds the point (half-open: left/top edges inside).
std::optional<ScreenWindow> windowAt(plinth::Point point);

// The frontmost window overlapping the rectangle (see `intersects`).
std::optional<ScreenWindow> frontmostWindow(const plinth::Rect& rect);

// The owning application's accessibility window that best matches the window's frame or its
// content frame (toolkits report either); none
// when no candidate comes within `matchTolerance`. Never holds a null element.
std::optional<AccessibleRef> accessibleWindow(const ScreenWindow& window);

// Half-open containment, as for displays: a point on the right or bottom edge is outside.
bool contains(const plinth::Rect& rect, plinth::Point point);

// True when the rectangles share some area. Rectangles that only touch along an edge or at a
// corner do not intersect: a window flush against a display's edge is not on that display.
bool intersects(const plinth::Rect& a, const plinth::Rect& b);

} // namespace WindowFinder

} // namespace orvane
