#include "orvane/focus/Accessibility.hpp"

#include "orvane/platform/Platform.hpp"

#include <cmath>

namespace orvane::Accessibility {

std::optional<plinth::Rect> frame(const AXElementRef& element) {
    if (!element) {
        return std::nullopt;
    }
    auto& service = *platform().accessibility;
    const AXResult position = service.copyAttribute(element, AXAttribute::position);
    if (!position.ok()) {
        return std::nullopt;
    }
    const AXResult size = service.copyAttribute(element, AXAttribute::size);
    if (!size.ok()) {
        return std::nullopt;
    }
    const auto* origin = std::get_if<plinth::Point>(&position.value);
    const auto* extent = std::get_if<AXSize>(&size.value);
    if (origin == nullptr || extent == nullptr) {
        return std::nullopt;
    }
    const plinth::Rect rect{origin->x, origin->y, extent->width, extent->height};
    if (!std::isfinite(rect.x) || !std::isfinite(rect.y) || !std::isfinite(rect.width) ||
        !std::isfinite(rect.height)) {
        return std::nullopt;
    }
    return rect;
}

} // namespace orvane::Accessibility
