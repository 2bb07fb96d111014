#pragma once

#include "orvane/platform/Displays.hpp"

#include <memory>
#include <optional>

namespace orvane::linuxbackend {

class CompositorLink;
struct CompositorSnapshot;

// Displays from the compositor's monitors. Stage coordinates are the global top-left space shifted
// by the primary monitor's origin, as the X11 backend's root coordinates are. The compositor's
// work area is not offered, so the visible frame is the frame.
class CompositorDisplays : public Displays {
public:
    explicit CompositorDisplays(std::shared_ptr<CompositorLink> link);

    std::vector<Display> screens() const override;
    // The display of the focused window's monitor.
    std::optional<Display> mainDisplay() const override;

    // The primary monitor's stage frame (the first one when none is marked primary); nullopt
    // while the link lists no monitor.
    static std::optional<plinth::Rect> primaryStage(const CompositorSnapshot& snapshot);

private:
    std::shared_ptr<CompositorLink> link_;
};

} // namespace orvane::linuxbackend
