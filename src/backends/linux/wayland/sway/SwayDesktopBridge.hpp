#pragma once

#include "orvane/platform/DesktopBridge.hpp"

#include <memory>

namespace orvane::linuxbackend {

class SwayLink;

// What stands between Orvane and sway is sway's own IPC socket: nothing to install or switch
// on, only a sway that answers on it.
class SwayDesktopBridge : public DesktopBridge {
public:
    explicit SwayDesktopBridge(std::shared_ptr<SwayLink> link);
    DesktopBridgeState state() const override;
    bool enable() override { return false; }

private:
    std::shared_ptr<SwayLink> link_;
};

} // namespace orvane::linuxbackend
