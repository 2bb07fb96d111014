#pragma once

#include "plinth/Geometry.hpp"

#include <memory>

namespace orvane {
class GazeDotSurface;
}
#include <optional>

class QWidget;

namespace orvane::ui {

// A small translucent dot where the engine believes the user is looking, floating above every
// window. Clicks pass through it and it never takes the keyboard. One window at most, created
// while the overlay is enabled; the system guards are told which window it is so that it does
// not pass for an open menu. Main thread only.
class GazeOverlay {
public:
    static constexpr int size = 22;

    GazeOverlay();
    ~GazeOverlay();
    GazeOverlay(const GazeOverlay&) = delete;
    GazeOverlay& operator=(const GazeOverlay&) = delete;

    // true: creates the dot window (not shown until a point arrives); false: destroys it.
    void setVisible(bool visible);

    // Centres the dot on a point in the global top-left space and shows it; nullopt hides it.
    // Nothing happens while the overlay is disabled.
    void update(const std::optional<plinth::Point>& globalTopLeft);

    // The dot window; null while the overlay is disabled or the desktop draws the dot.
    QWidget* window() const { return dot_.get(); }

private:
    static std::shared_ptr<GazeDotSurface> desktopDot();

    std::unique_ptr<QWidget> dot_;
    bool drawnByDesktop_ = false;
};

} // namespace orvane::ui
