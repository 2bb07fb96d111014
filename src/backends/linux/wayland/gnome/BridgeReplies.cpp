#include "backends/linux/wayland/gnome/BridgeReplies.hpp"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cstring>

namespace orvane::linuxbackend::BridgeReplies {

std::string bounded(const char* text, std::size_t limit) {
    if (!text) {
        return {};
    }
    const std::size_t length = strnlen(text, limit + 1);
    std::string kept(text, std::min(length, limit));
    if (length > limit) {
        // Not in the middle of a UTF-8 sequence.
        while (!kept.empty() && (static_cast<unsigned char>(kept.back()) & 0xC0) == 0x80) {
            kept.pop_back();
        }
        if (!kept.empty() && (static_cast<unsigned char>(kept.back()) & 0x80) != 0) {
            kept.pop_back();
        }
    }
    return kept;
}

std::optional<std::vector<CompositorMonitor>> readMonitors(sd_bus_message* m) {
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "(iiiissb)") <= 0) {
        return std::nullopt;
    }
    std::vector<CompositorMonitor> monitors;
    int x = 0, y = 0, width = 0, height = 0, primary = 0;
    const char* connector = nullptr;
    const char* name = nullptr;
    int r = 0;
    while ((r = sd_bus_message_read(m, "(iiiissb)", &x, &y, &width, &height, &connector, &name,
                                    &primary)) > 0) {
        if (monitors.size() == maxMonitors) {
            return std::nullopt;
        }
        monitors.push_back({{double(x), double(y), double(width), double(height)},
                            bounded(connector, maxTextLength),
                            bounded(name, maxTextLength),
                            primary != 0});
    }
    if (r < 0) {
        return std::nullopt;
    }
    return monitors;
}

std::optional<std::vector<CompositorWindow>> readWindows(sd_bus_message* m) {
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "(tusss(iiii)(iiii)ibb)") <= 0) {
        return std::nullopt;
    }
    std::vector<CompositorWindow> windows;
    std::uint64_t id = 0;
    std::uint32_t pid = 0;
    const char* application = nullptr;
    const char* title = nullptr;
    const char* type = nullptr;
    int f[4] = {}, b[4] = {};
    int monitor = -1, above = 0, minimized = 0;
    int r = 0;
    while ((r = sd_bus_message_read(m, "(tusss(iiii)(iiii)ibb)", &id, &pid, &application, &title,
                                    &type, &f[0], &f[1], &f[2], &f[3], &b[0], &b[1], &b[2], &b[3],
                                    &monitor, &above, &minimized)) > 0) {
        if (windows.size() == maxWindows) {
            break; // the front-most ones are kept
        }
        windows.push_back({id,
                           pid,
                           bounded(application, maxTextLength),
                           bounded(title, maxTextLength),
                           bounded(type, maxWordLength),
                           {double(f[0]), double(f[1]), double(f[2]), double(f[3])},
                           {double(b[0]), double(b[1]), double(b[2]), double(b[3])},
                           monitor,
                           above != 0,
                           minimized != 0});
    }
    if (r < 0) {
        return std::nullopt;
    }
    return windows;
}

std::optional<std::uint64_t> readFocus(sd_bus_message* m) {
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sv}") <= 0) {
        return std::nullopt;
    }
    while (sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
        const char* name = nullptr;
        if (sd_bus_message_read(m, "s", &name) < 0) {
            return std::nullopt;
        }
        if (std::strcmp(name, "FocusWindow") == 0) {
            std::uint64_t focus = 0;
            if (sd_bus_message_read(m, "v", "t", &focus) < 0) {
                return std::nullopt;
            }
            return focus;
        }
        if (sd_bus_message_skip(m, "v") < 0 || sd_bus_message_exit_container(m) < 0) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

} // namespace orvane::linuxbackend::BridgeReplies
