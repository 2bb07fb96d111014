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
    const char* entry = monitorsSignature.data() + 1;
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, entry) <= 0) {
        return std::nullopt;
    }
    std::vector<CompositorMonitor> monitors;
    int x = 0, y = 0, width = 0, height = 0, primary = 0;
    const char* connector = nullptr;
    const char* name = nullptr;
    int r = 0;
    while ((r = sd_bus_message_read(m, entry, &x, &y, &width, &height, &connector, &name,
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
    const char* entry = windowsSignature.data() + 1;
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, entry) <= 0) {
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
    while ((r = sd_bus_message_read(m, entry, &id, &pid, &application, &title, &type, &f[0], &f[1],
                                    &f[2], &f[3], &b[0], &b[1], &b[2], &b[3], &monitor, &above,
                                    &minimized)) > 0) {
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

std::optional<BridgeState> readState(sd_bus_message* m) {
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, stateSignature.data() + 1) <= 0) {
        return std::nullopt;
    }
    BridgeState state;
    while (sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
        const char* name = nullptr;
        if (sd_bus_message_read(m, "s", &name) < 0) {
            return state;
        }
        int r = 0;
        if (std::strcmp(name, "FocusWindow") == 0) {
            std::uint64_t focus = 0;
            if ((r = sd_bus_message_read(m, "v", "t", &focus)) >= 0) {
                state.properties.emplace_back(FocusWindow{focus});
            }
        } else if (std::strcmp(name, "OverviewActive") == 0) {
            int active = 0;
            if ((r = sd_bus_message_read(m, "v", "b", &active)) >= 0) {
                state.properties.emplace_back(OverviewActive{active != 0});
            }
        } else if (std::strcmp(name, "ShellModal") == 0) {
            const char* modal = nullptr;
            if ((r = sd_bus_message_read(m, "v", "s", &modal)) >= 0) {
                state.properties.emplace_back(ShellModal{bounded(modal, maxWordLength)});
            }
        } else if (std::strcmp(name, "ShellVersion") == 0) {
            const char* version = nullptr;
            if ((r = sd_bus_message_read(m, "v", "s", &version)) >= 0) {
                state.properties.emplace_back(ShellVersion{bounded(version, maxWordLength)});
            }
        } else {
            r = sd_bus_message_skip(m, "v");
        }
        if (r < 0 || sd_bus_message_exit_container(m) < 0) {
            return state;
        }
    }
    sd_bus_message_exit_container(m);
    state.whole = true;
    return state;
}

std::optional<std::uint64_t> focusOf(const BridgeState& state) {
    for (const auto& property : state.properties) {
        if (const auto* focus = std::get_if<FocusWindow>(&property)) {
            return focus->id;
        }
    }
    return std::nullopt;
}

std::optional<std::uint64_t> readFocus(sd_bus_message* m) {
    const auto state = readState(m);
    return state ? focusOf(*state) : std::nullopt;
}

std::optional<ShellExtensionInfo> readExtensionInfo(sd_bus_message* m) {
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sv}") <= 0) {
        return std::nullopt;
    }
    ShellExtensionInfo info;
    while (sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
        info.listed = true;
        const char* key = nullptr;
        if (sd_bus_message_read(m, "s", &key) < 0) {
            return std::nullopt;
        }
        char type = 0;
        const char* contents = nullptr;
        int r = sd_bus_message_peek_type(m, &type, &contents);
        if (r >= 0 && std::strcmp(key, "state") == 0 && contents && *contents == 'd') {
            r = sd_bus_message_read(m, "v", "d", &info.state);
        } else if (r >= 0 && std::strcmp(key, "state") == 0 && contents && *contents == 'u') {
            std::uint32_t state = 0;
            r = sd_bus_message_read(m, "v", "u", &state);
            info.state = state;
        } else if (r >= 0 && std::strcmp(key, "error") == 0 && contents && *contents == 's') {
            const char* error = nullptr;
            r = sd_bus_message_read(m, "v", "s", &error);
            info.error = bounded(error, maxTextLength);
        } else if (r >= 0) {
            r = sd_bus_message_skip(m, "v");
        }
        if (r < 0 || sd_bus_message_exit_container(m) < 0) {
            return std::nullopt;
        }
    }
    return info;
}

} // namespace orvane::linuxbackend::BridgeReplies
