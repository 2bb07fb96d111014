#include "backends/linux/wayland/kwin/KWinScriptMessages.hpp"

#include "backends/linux/wayland/BoundedJson.hpp"

#include <algorithm>
#include <cmath>
#include <set>

namespace orvane::linuxbackend {
namespace {

using nlohmann::json;

// Far beyond any desktop, near enough that the components' sums stay exact.
constexpr double coordinateLimit = 1'000'000;
constexpr std::size_t outputNameBytes = 64;
constexpr std::size_t maximumOutputs = 64;
// A window's entry is some 60 values; the script clips every text to a few kilobytes.
constexpr JsonLimits windowsLimits{KWinScriptMessages::windowsMessageBytes,
                                   KWinScriptMessages::maximumWindows * 80, 8, 16u << 10};
constexpr JsonLimits messageLimits{KWinScriptMessages::messageBytes, 4096, 8, 4096};

// The property names of KWin's window types the script sends; nothing else is kept.
const std::set<std::string, std::less<>> knownFlags = {"normalWindow",
                                                       "dialog",
                                                       "dock",
                                                       "desktopWindow",
                                                       "toolbar",
                                                       "menu",
                                                       "dropdownMenu",
                                                       "popupMenu",
                                                       "comboBox",
                                                       "utility",
                                                       "splash",
                                                       "notification",
                                                       "criticalNotification",
                                                       "onScreenDisplay",
                                                       "tooltip",
                                                       "dndIcon",
                                                       "specialWindow",
                                                       "popupWindow",
                                                       "skipTaskbar",
                                                       "fullScreen",
                                                       "deleted"};

std::optional<json> parse(std::string_view text, const JsonLimits& limits, std::string* problem) {
    return parseBoundedJson(text, limits, problem);
}

void say(std::string* problem, std::string text) {
    if (problem) {
        *problem = std::move(text);
    }
}

std::optional<double> number(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_number()) {
        return std::nullopt;
    }
    const double value = found->get<double>();
    if (!std::isfinite(value) || std::abs(value) > coordinateLimit) {
        return std::nullopt;
    }
    return value;
}

std::string text(const json& object, const char* key, std::size_t limit) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string()) {
        return {};
    }
    return truncateUtf8(found->get<std::string>(), limit);
}

// A text kept only whole: nullopt when it is longer than `limit`.
std::optional<std::string> wholeText(const json& object, const char* key, std::size_t limit) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string()) {
        return std::string();
    }
    const auto& value = found->get_ref<const std::string&>();
    return value.size() <= limit ? std::optional(value) : std::nullopt;
}

bool flag(const json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_boolean() && found->get<bool>();
}

std::optional<plinth::Rect> rect(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_object()) {
        return std::nullopt;
    }
    const auto x = number(*found, "x"), y = number(*found, "y");
    const auto width = number(*found, "width"), height = number(*found, "height");
    if (!x || !y || !width || !height || *width < 0 || *height < 0) {
        return std::nullopt;
    }
    return plinth::Rect{*x, *y, *width, *height};
}

std::optional<json> list(std::string_view message, const JsonLimits& limits, std::size_t most,
                         std::string* problem) {
    auto value = parse(message, limits, problem);
    if (!value) {
        return std::nullopt;
    }
    if (!value->is_array()) {
        say(problem, "not a list");
        return std::nullopt;
    }
    if (value->size() > most) {
        say(problem, std::to_string(value->size()) + " entries, over " + std::to_string(most));
        return std::nullopt;
    }
    return value;
}

std::optional<json> object(std::string_view message, std::string* problem) {
    auto value = parse(message, messageLimits, problem);
    if (value && !value->is_object()) {
        say(problem, "not an object");
        return std::nullopt;
    }
    return value;
}

} // namespace

namespace KWinScriptMessages {

std::optional<KWinScriptHello> parseHello(std::string_view message, std::string* problem) {
    const auto value = object(message, problem);
    if (!value) {
        return std::nullopt;
    }
    const auto version = number(*value, "version");
    const auto api = number(*value, "api");
    if (!version || *version < 0 || std::floor(*version) != *version) {
        say(problem, "no version");
        return std::nullopt;
    }
    return KWinScriptHello{static_cast<unsigned>(*version),
                           api && (*api == 5 || *api == 6) ? static_cast<int>(*api) : 0};
}

std::optional<plinth::Point> parseCursor(std::string_view message, std::string* problem) {
    const auto value = object(message, problem);
    if (!value) {
        return std::nullopt;
    }
    const auto x = number(*value, "x"), y = number(*value, "y");
    if (!x || !y) {
        say(problem, "no point");
        return std::nullopt;
    }
    return plinth::Point{std::round(*x), std::round(*y)};
}

std::optional<KWinScriptDone> parseDone(std::string_view message, std::string* problem) {
    const auto value = object(message, problem);
    if (!value) {
        return std::nullopt;
    }
    const auto serial = value->find("serial");
    const auto active = wholeText(*value, "active", KWinScriptMessages::idBytes);
    if (serial == value->end() || !serial->is_number_unsigned() || !active) {
        say(problem, "no serial or a window id too long");
        return std::nullopt;
    }
    KWinScriptDone done;
    done.serial = serial->get<std::uint64_t>();
    done.active = *active;
    const auto x = number(*value, "x"), y = number(*value, "y");
    if (x && y) {
        done.x = static_cast<int>(std::lround(*x));
        done.y = static_cast<int>(std::lround(*y));
    }
    return done;
}

std::optional<std::vector<CompositorMonitor>> parseOutputs(std::string_view message,
                                                           std::string* problem) {
    const auto outputs = list(message, messageLimits, maximumOutputs, problem);
    if (!outputs) {
        return std::nullopt;
    }
    std::vector<CompositorMonitor> monitors;
    for (const auto& output : *outputs) {
        if (!output.is_object()) {
            continue;
        }
        const auto geometry = rect(output, "geometry");
        if (!geometry || geometry->width <= 0 || geometry->height <= 0) {
            continue;
        }
        CompositorMonitor monitor;
        monitor.stageFrame = *geometry;
        monitor.connector = text(output, "name", outputNameBytes);
        if (monitor.connector.empty()) {
            monitor.connector = "Display " + std::to_string(monitors.size() + 1);
        }
        monitor.primary = monitors.empty();
        monitors.push_back(std::move(monitor));
    }
    return monitors;
}

std::optional<std::vector<KWinScriptWindow>> parseWindows(std::string_view message,
                                                          std::string* problem) {
    const auto entries = list(message, windowsLimits, KWinScriptMessages::maximumWindows, problem);
    if (!entries) {
        return std::nullopt;
    }
    std::vector<KWinScriptWindow> windows;
    std::set<std::string> seen;
    for (const auto& entry : *entries) {
        if (!entry.is_object()) {
            continue;
        }
        KWinScriptWindow window;
        window.id = wholeText(entry, "id", KWinScriptMessages::idBytes).value_or("");
        const auto frame = rect(entry, "frame");
        if (window.id.empty() || !frame || !seen.insert(window.id).second) {
            continue;
        }
        window.frame = *frame;
        window.buffer = rect(entry, "buffer").value_or(*frame);
        const auto pid = number(entry, "pid");
        // 0 says unknown; negative or fractional ones are nonsense.
        if (pid && *pid > 0 && *pid < 4'194'305 && std::floor(*pid) == *pid) {
            window.pid = static_cast<std::uint32_t>(*pid);
        }
        window.caption = text(entry, "caption", KWinScriptMessages::captionBytes);
        window.resourceClass = text(entry, "resourceClass", KWinScriptMessages::classBytes);
        const auto output = number(entry, "output");
        window.output = output && *output >= 0 && *output < 1024 ? static_cast<int>(*output) : -1;
        window.stacking = number(entry, "stacking").value_or(0);
        window.keepAbove = flag(entry, "keepAbove");
        window.minimized = flag(entry, "minimized");
        if (const auto flags = entry.find("flags"); flags != entry.end() && flags->is_array()) {
            for (const auto& name : *flags) {
                if (name.is_string() && knownFlags.contains(name.get_ref<const std::string&>()) &&
                    window.flags.size() < knownFlags.size()) {
                    window.flags.push_back(name.get<std::string>());
                }
            }
        }
        if (std::find(window.flags.begin(), window.flags.end(), "deleted") != window.flags.end()) {
            continue;
        }
        windows.push_back(std::move(window));
    }
    // Front to back; windows of one stacking number keep KWin's order.
    std::stable_sort(windows.begin(), windows.end(),
                     [](const KWinScriptWindow& a, const KWinScriptWindow& b) {
                         return a.stacking > b.stacking;
                     });
    return windows;
}

std::optional<std::string> parseActive(std::string_view text) {
    if (text.size() > KWinScriptMessages::idBytes) {
        return std::nullopt;
    }
    return std::string(text);
}

std::string windowType(const std::vector<std::string>& flags) {
    const auto has = [&flags](const char* name) {
        return std::find(flags.begin(), flags.end(), name) != flags.end();
    };
    // The most specific first: a menu is also a "popupWindow", a dialog may be "normal" too.
    static constexpr std::pair<const char*, const char*> types[] = {
        {"desktopWindow", "desktop"},
        {"popupMenu", "popup_menu"},
        {"dropdownMenu", "dropdown_menu"},
        {"menu", "menu"},
        {"comboBox", "combo"},
        {"tooltip", "tooltip"},
        {"dndIcon", "dnd"},
        {"dock", "dock"},
        {"criticalNotification", "notification"},
        {"notification", "notification"},
        {"onScreenDisplay", "notification"},
        {"splash", "splashscreen"},
        {"toolbar", "toolbar"},
        {"utility", "utility"},
        {"dialog", "dialog"},
        {"normalWindow", "normal"},
    };
    for (const auto& [flagName, type] : types) {
        if (has(flagName)) {
            return type;
        }
    }
    // Override-redirect and other unmanaged surfaces.
    return has("popupWindow") ? "override_other" : "normal";
}

std::string versionFromSupportInformation(std::string_view text) {
    constexpr std::string_view label = "KWin version: ";
    const auto at = text.find(label);
    if (at == std::string_view::npos) {
        return {};
    }
    auto rest = text.substr(at + label.size());
    const auto end = rest.find_first_not_of("0123456789.");
    rest = rest.substr(0, end);
    return std::string(rest.substr(0, 32));
}

std::string activateCommand(std::uint64_t serial, const std::string& windowId) {
    return json{{"op", "activate"}, {"serial", serial}, {"id", windowId}}.dump();
}

std::string cursorCommand(std::uint64_t serial) {
    return json{{"op", "cursor"}, {"serial", serial}}.dump();
}

std::string watchCommand(std::uint64_t serial, unsigned milliseconds) {
    return json{{"op", "watch"}, {"serial", serial}, {"milliseconds", milliseconds}}.dump();
}

std::string noCommand() {
    return json{{"op", "none"}}.dump();
}

} // namespace KWinScriptMessages

std::uint64_t KWinWindowIds::idFor(const std::string& uuid) {
    const auto [at, added] = byUuid_.emplace(uuid, next_);
    if (added) {
        ++next_;
    }
    return at->second;
}

std::optional<std::string> KWinWindowIds::uuidOf(std::uint64_t id) const {
    for (const auto& [uuid, number] : byUuid_) {
        if (number == id) {
            return uuid;
        }
    }
    return std::nullopt;
}

void KWinWindowIds::keepOnly(const std::vector<std::string>& live) {
    const std::set<std::string> keep(live.begin(), live.end());
    std::erase_if(byUuid_, [&keep](const auto& entry) { return !keep.contains(entry.first); });
}

} // namespace orvane::linuxbackend
