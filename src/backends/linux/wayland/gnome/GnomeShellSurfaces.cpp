#include "backends/linux/wayland/gnome/GnomeShellSurfaces.hpp"

#include "backends/linux/wayland/CompositorDisplays.hpp"
#include "backends/linux/wayland/gnome/BridgeConnection.hpp"
#include "plinth/ScreenGeometry.hpp"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <vector>

namespace orvane::linuxbackend {
namespace {

// As much as the bridge takes.
constexpr std::size_t maxIconBytes = 256 * 1024;

} // namespace

void GnomeGazeDot::show(plinth::Point center, int diameter) {
    const auto primary = CompositorDisplays::primaryStage(bridge_->snapshot());
    if (!primary) {
        return;
    }
    const auto stage = plinth::ScreenGeometry::screenFromGlobal(center, *primary);
    bridge_->showDot(static_cast<int>(std::lround(stage.x)), static_cast<int>(std::lround(stage.y)),
                     diameter);
}

void GnomeGazeDot::hide() {
    bridge_->hideDot();
}

GnomeIndicator::GnomeIndicator(std::shared_ptr<BridgeConnection> bridge)
    : bridge_(std::move(bridge)) {
    events_ = bridge_->listen([this](const CompositorEvent& event) {
        if (event.kind == CompositorEvent::Kind::indicatorActivated && onActivated) {
            onActivated(event.id);
        } else if (event.kind == CompositorEvent::Kind::indicatorOpening && onOpening) {
            onOpening();
        }
    });
}

bool GnomeIndicator::show(const std::string& iconPath, const std::string& tooltip,
                          const std::vector<IndicatorItem>& items) {
    // The shell takes the image itself, not a path to read.
    std::ifstream file(iconPath, std::ios::binary);
    std::vector<std::uint8_t> icon(maxIconBytes + 1);
    file.read(reinterpret_cast<char*>(icon.data()), std::streamsize(icon.size()));
    icon.resize(std::size_t(file.gcount()));
    if (icon.empty() || icon.size() > maxIconBytes) {
        return false;
    }
    return bridge_->setIndicator(icon, tooltip, items);
}

void GnomeIndicator::remove() {
    bridge_->clearIndicator();
}

} // namespace orvane::linuxbackend
