#pragma once

#include "orvane/platform/DesktopBridge.hpp"

#include <memory>

namespace orvane::linuxbackend {

class HyprlandLink;

// What stands between Orvane and Hyprland is Hyprland's own sockets: nothing to install or
// switch on, only a Hyprland that answers on them.
class HyprlandDesktopBridge : public DesktopBridge {
public:
    explicit HyprlandDesktopBridge(std::shared_ptr<HyprlandLink> link);
    DesktopBridgeState state() const override;
    bool enable() override { return false; }

private:
    std::shared_ptr<HyprlandLink> link_;
};

} // namespace orvane::linuxbackend
