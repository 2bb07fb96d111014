#include "backends/linux/wayland/gnome/GnomeShellSurfaces.hpp"

#include "backends/linux/wayland/CompositorDisplays.hpp"
#include "backends/linux/wayland/gnome/BridgeConnection.hpp"
#include "plinth/ScreenGeometry.hpp"

#include <systemd/sd-bus.h>

#include <cmath>
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
    sd_bus_message_unref(bridge_->call("ShowDot", "iii", static_cast<int>(std::lround(stage.x)),
                                       static_cast<int>(std::lround(stage.y)), diameter));
}

void GnomeGazeDot::hide() {
    sd_bus_message_unref(bridge_->call("HideDot", ""));
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
    std::vector<char> icon(maxIconBytes + 1);
    file.read(icon.data(), std::streamsize(icon.size()));
    icon.resize(std::size_t(file.gcount()));
    if (icon.empty() || icon.size() > maxIconBytes) {
        return false;
    }
    sd_bus_message* call = bridge_->newCall("SetIndicator");
    int r = call ? sd_bus_message_append_array(call, 'y', icon.data(), icon.size()) : -1;
    if (r >= 0) {
        r = sd_bus_message_append(call, "s", tooltip.c_str());
    }
    if (r >= 0) {
        r = sd_bus_message_open_container(call, SD_BUS_TYPE_ARRAY, "(ssbi)");
    }
    for (const auto& item : items) {
        if (r >= 0) {
            const int checked = item.checked ? (*item.checked ? 1 : 0) : -1;
            r = sd_bus_message_append(call, "(ssbi)", item.id.c_str(), item.label.c_str(),
                                      int(item.enabled), checked);
        }
    }
    if (r >= 0) {
        r = sd_bus_message_close_container(call);
    }
    if (r < 0) {
        sd_bus_message_unref(call);
        return false;
    }
    sd_bus_message* reply = bridge_->send(call);
    const bool shown = reply != nullptr;
    sd_bus_message_unref(reply);
    return shown;
}

void GnomeIndicator::remove() {
    sd_bus_message_unref(bridge_->call("ClearIndicator", ""));
}

} // namespace orvane::linuxbackend
