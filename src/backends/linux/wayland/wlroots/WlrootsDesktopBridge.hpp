#pragma once

#include "orvane/platform/DesktopBridge.hpp"

#include <memory>
#include <string>

namespace orvane::linuxbackend {

class WlrootsLink;

// Between Orvane and a compositor without an IPC stand only protocols it offers every client:
// nothing to install or switch on, only a compositor that lists its windows.
class WlrootsDesktopBridge : public DesktopBridge {
public:
    // `desktop`: as XDG_CURRENT_DESKTOP names it first ("labwc").
    WlrootsDesktopBridge(std::shared_ptr<WlrootsLink> link, std::string desktop);
    DesktopBridgeState state() const override;
    bool enable() override { return false; }

private:
    std::shared_ptr<WlrootsLink> link_;
    std::string desktop_;
};

} // namespace orvane::linuxbackend
