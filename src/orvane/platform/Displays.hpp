#pragma once

#include "plinth/Geometry.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

// One connected display as the platform reports it.
struct Display {
    // The platform's number for the display; stable while it stays connected.
    std::uint32_t id = 0;
    // Full frame in the global top-left space: origin at the top-left corner of the primary
    // display, y growing downwards, in points.
    plinth::Rect frame;
    // The part not covered by panels and docks, same space.
    plinth::Rect visibleFrame;
    // A name a person recognises ("DELL U2720Q", "Built-in Display"); may be empty.
    std::string localizedName;
};

class Displays {
public:
    virtual ~Displays() = default;

    // Every connected display, primary first (the primary's frame has origin (0, 0)). Empty
    // when the platform reports no display at all (headless, or between reconfigurations).
    virtual std::vector<Display> screens() const = 0;

    // The display holding the window with keyboard focus; nullopt when there is none.
    virtual std::optional<Display> mainDisplay() const = 0;
};

} // namespace orvane
