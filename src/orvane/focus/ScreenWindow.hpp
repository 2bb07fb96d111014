#pragma once

#include "plinth/Geometry.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace orvane {

// One on-screen window of some application, as the window server listed it.
struct ScreenWindow {
    std::int32_t pid = 0;
    // The window server's number; windows are remembered by it, never by element.
    std::uint32_t windowID = 0;
    plinth::Rect frame; // global top-left space
    std::string ownerName;
    std::string title;
    // Position in the server's raw front-to-back list before filtering, so indexes have gaps.
    std::int64_t layerIndex = 0;
    // The frame without the window manager's decorations, where the window server says.
    std::optional<plinth::Rect> contentFrame;

    friend bool operator==(const ScreenWindow&, const ScreenWindow&) = default;
};

} // namespace orvane
