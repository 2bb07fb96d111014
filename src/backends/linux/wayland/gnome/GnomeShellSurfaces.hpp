#pragma once

#include "orvane/platform/DesktopBridge.hpp"
#include "orvane/platform/Subscription.hpp"

#include <memory>

namespace orvane::linuxbackend {

class BridgeConnection;

// The gaze dot, drawn by the shell. Main thread.
class GnomeGazeDot : public GazeDotSurface {
public:
    explicit GnomeGazeDot(std::shared_ptr<BridgeConnection> bridge) : bridge_(std::move(bridge)) {}
    void show(plinth::Point center, int diameter) override;
    void hide() override;

private:
    std::shared_ptr<BridgeConnection> bridge_;
};

// The status icon and its menu in the shell's top bar. Main thread.
class GnomeIndicator : public StatusIndicator {
public:
    explicit GnomeIndicator(std::shared_ptr<BridgeConnection> bridge);
    bool show(const std::string& iconPath, const std::string& tooltip,
              const std::vector<IndicatorItem>& items) override;
    void remove() override;

private:
    std::shared_ptr<BridgeConnection> bridge_;
    Subscription events_;
};

} // namespace orvane::linuxbackend
