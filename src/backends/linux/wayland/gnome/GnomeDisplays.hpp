#pragma once

#include "orvane/platform/Displays.hpp"

#include <memory>
#include <optional>

namespace orvane::linuxbackend {

class BridgeConnection;
struct BridgeSnapshot;

// Displays from the shell's monitors. Stage coordinates are the global top-left space shifted
// by the primary monitor's origin, converted to the native space as the X11 backend converts
// root coordinates. The shell's work area is not offered, so the visible frame is the frame.
class GnomeDisplays : public Displays {
public:
    explicit GnomeDisplays(std::shared_ptr<BridgeConnection> bridge);

    std::vector<Display> screens() const override;
    // The display of the focused window's monitor.
    std::optional<Display> mainDisplay() const override;

    // The primary monitor's stage frame (the first one when none is marked primary); nullopt
    // while the bridge lists no monitor.
    static std::optional<plinth::Rect> primaryStage(const BridgeSnapshot& snapshot);

private:
    std::shared_ptr<BridgeConnection> bridge_;
};

} // namespace orvane::linuxbackend
