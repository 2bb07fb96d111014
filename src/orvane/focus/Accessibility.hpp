#pragma once

#include "orvane/platform/AccessibilityService.hpp"
#include "plinth/Geometry.hpp"

#include <optional>

namespace orvane {

// Reads through the installed platform's accessibility service.
namespace Accessibility {

// The element's position and size (global top-left space). Any failure, missing or malformed
// value is no answer.
std::optional<plinth::Rect> frame(const AXElementRef& element);

} // namespace Accessibility

} // namespace orvane
