#include "backends/linux/wayland/hyprland/HyprlandJson.hpp"

#include "backends/linux/wayland/BoundedJson.hpp"
#include "backends/linux/wayland/hyprland/HyprlandIpc.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace orvane::linuxbackend::HyprlandJson {
namespace {

using nlohmann::json;

// A client is some 30 values; a monitor lists its modes too. One past the window bound is
// still read, so that too many is said as such.
constexpr JsonLimits clientLimits{HyprlandIpc::maximumReply, (maximumWindows + 1) * 64, 8,
                                  1u << 16};
constexpr JsonLimits monitorLimits{1u << 20, 65'536, 8, 4096};
constexpr JsonLimits replyLimits{1u << 20, 65'536, 8, 65'536};

void say(std::string* problem, std::string text) {
    if (problem) {
        *problem = std::move(text);
    }
}

double clamp(double value, double low, double high) {
    return std::isfinite(value) ? std::clamp(value, low, high) : low;
}

std::optional<double> number(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_number()) {
        return std::nullopt;
    }
    return found->get<double>();
}

double coordinate(const json& object, const char* key) {
    return clamp(number(object, key).value_or(0), -maximumCoordinate, maximumCoordinate);
}

std::int64_t integer(const json& object, const char* key, std::int64_t absent) {
    const auto value = number(object, key);
    return value && std::isfinite(*value) && std::abs(*value) < 9.0e15
               ? static_cast<std::int64_t>(*value)
               : absent;
}

std::string text(const json& object, const char* key, std::size_t limit) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string()
               ? truncateUtf8(found->get<std::string>(), limit)
               : std::string();
}

bool flag(const json& object, const char* key, bool absent) {
    const auto found = object.find(key);
    return found != object.end() && found->is_boolean() ? found->get<bool>() : absent;
}

// An [x, y] pair, clamped; nullopt when it is not one.
std::optional<plinth::Point> pair(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_array() || found->size() != 2 ||
        !(*found)[0].is_number() || !(*found)[1].is_number()) {
        return std::nullopt;
    }
    return plinth::Point{clamp((*found)[0].get<double>(), -maximumCoordinate, maximumCoordinate),
                         clamp((*found)[1].get<double>(), -maximumCoordinate, maximumCoordinate)};
}

std::int64_t workspaceId(const json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_object() ? integer(*found, "id", 0) : 0;
}

} // namespace

std::optional<std::vector<Monitor>> monitors(const std::string& reply, std::string* problem) {
    const auto value = parseBoundedJson(reply, monitorLimits, problem);
    if (!value) {
        return std::nullopt;
    }
    if (!value->is_array() || value->size() > maximumMonitors) {
        say(problem, value->is_array() ? std::to_string(value->size()) + " monitors"
                                       : "not a list of monitors");
        return std::nullopt;
    }
    std::vector<Monitor> list;
    for (const auto& entry : *value) {
        if (!entry.is_object() || flag(entry, "disabled", false)) {
            continue;
        }
        Monitor monitor;
        monitor.id = integer(entry, "id", -1);
        double scale = number(entry, "scale").value_or(1);
        if (!std::isfinite(scale) || scale <= 0.1 || scale > 16) {
            scale = 1;
        }
        // Its size is the mode's, in pixels; the stage is in logical units, turned with it.
        double width = clamp(number(entry, "width").value_or(0), 0, maximumCoordinate) / scale;
        double height = clamp(number(entry, "height").value_or(0), 0, maximumCoordinate) / scale;
        if (integer(entry, "transform", 0) % 2 != 0) {
            std::swap(width, height);
        }
        monitor.monitor.stageFrame = {coordinate(entry, "x"), coordinate(entry, "y"),
                                      std::round(width), std::round(height)};
        monitor.monitor.connector = text(entry, "name", 64);
        std::string name = text(entry, "make", 128);
        const std::string model = text(entry, "model", 128);
        if (!model.empty() && model != name) {
            name += (name.empty() ? "" : " ") + model;
        }
        monitor.monitor.name = name.empty() ? monitor.monitor.connector : name;
        monitor.activeWorkspace = workspaceId(entry, "activeWorkspace");
        monitor.specialWorkspace = workspaceId(entry, "specialWorkspace");
        monitor.focused = flag(entry, "focused", false);
        if (monitor.monitor.stageFrame.width > 0 && monitor.monitor.stageFrame.height > 0) {
            list.push_back(std::move(monitor));
        }
    }
    const auto atOrigin = std::find_if(list.begin(), list.end(), [](const Monitor& monitor) {
        return monitor.monitor.stageFrame.x == 0 && monitor.monitor.stageFrame.y == 0;
    });
    if (atOrigin != list.end()) {
        std::rotate(list.begin(), atOrigin, atOrigin + 1);
    }
    if (!list.empty()) {
        list.front().monitor.primary = true;
    }
    return list;
}

std::optional<std::vector<CompositorWindow>>
windows(const std::string& reply, const std::vector<Monitor>& monitors, std::string* problem) {
    const auto value = parseBoundedJson(reply, clientLimits, problem);
    if (!value) {
        return std::nullopt;
    }
    if (!value->is_array()) {
        say(problem, "not a list of clients");
        return std::nullopt;
    }
    if (value->size() > maximumWindows) {
        say(problem, "more than " + std::to_string(maximumWindows) + " windows");
        return std::nullopt;
    }
    struct Found {
        CompositorWindow window;
        std::int64_t history = -1;
    };
    std::vector<Found> found;
    for (const auto& client : *value) {
        if (!client.is_object() || !flag(client, "mapped", true)) {
            continue;
        }
        const auto id = address(text(client, "address", 32));
        const auto at = pair(client, "at");
        const auto size = pair(client, "size");
        if (!id || !at || !size) {
            continue;
        }
        Found entry;
        auto& window = entry.window;
        window.id = *id;
        const double pid = number(client, "pid").value_or(0);
        window.pid = pid > 0 && pid < 4294967296.0 ? static_cast<std::uint32_t>(pid) : 0;
        window.applicationId = text(client, "class", classBytes);
        if (window.applicationId.empty()) {
            window.applicationId = text(client, "initialClass", classBytes);
        }
        window.title = text(client, "title", titleBytes);
        window.type = "normal";
        window.frame = {at->x, at->y, std::max(size->x, 0.0), std::max(size->y, 0.0)};
        window.buffer = window.frame;
        // Monitors are named by their id; an index into the list is what the link gives.
        const std::int64_t monitorId = integer(client, "monitor", -1);
        const std::int64_t workspace = workspaceId(client, "workspace");
        bool shown = false;
        for (std::size_t i = 0; i < monitors.size(); ++i) {
            if (monitors[i].id == monitorId) {
                window.monitor = static_cast<int>(i);
            }
            shown = shown || (workspace != 0 && (monitors[i].activeWorkspace == workspace ||
                                                 monitors[i].specialWorkspace == workspace));
        }
        window.above = flag(client, "pinned", false);
        window.minimized = !shown || flag(client, "hidden", false);
        const std::int64_t history = integer(client, "focusHistoryID", -1);
        entry.history = history < 0 ? std::numeric_limits<std::int64_t>::max() : history;
        found.push_back(std::move(entry));
    }
    // Windows shown come before those that are not; among each, the latest focused first.
    std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        if (a.window.minimized != b.window.minimized) {
            return !a.window.minimized;
        }
        return a.history < b.history;
    });
    std::vector<CompositorWindow> list;
    list.reserve(found.size());
    for (auto& entry : found) {
        // An address listed twice is not Hyprland's: the first is kept.
        if (std::none_of(list.begin(), list.end(),
                         [&](const CompositorWindow& w) { return w.id == entry.window.id; })) {
            list.push_back(std::move(entry.window));
        }
    }
    return list;
}

std::optional<std::uint64_t> activeWindow(const std::string& reply) {
    const auto value = parseBoundedJson(reply, replyLimits);
    if (!value || !value->is_object()) {
        return std::nullopt;
    }
    const auto found = value->find("address");
    if (found == value->end()) {
        return 0; // no window has the focus
    }
    return found->is_string() ? address(found->get<std::string>()) : std::nullopt;
}

std::optional<plinth::Point> cursor(const std::string& reply) {
    const auto value = parseBoundedJson(reply, replyLimits);
    if (!value || !value->is_object()) {
        return std::nullopt;
    }
    const auto x = number(*value, "x");
    const auto y = number(*value, "y");
    if (!x || !y) {
        return std::nullopt;
    }
    return plinth::Point{clamp(*x, -maximumCoordinate, maximumCoordinate),
                         clamp(*y, -maximumCoordinate, maximumCoordinate)};
}

std::optional<std::string> version(const std::string& reply) {
    const auto value = parseBoundedJson(reply, replyLimits);
    if (!value || !value->is_object()) {
        return std::nullopt;
    }
    std::string tag = text(*value, "tag", 64);
    if (tag.size() > 1 && tag[0] == 'v' && tag[1] >= '0' && tag[1] <= '9') {
        tag.erase(0, 1);
    }
    if (!tag.empty() && tag != "unknown") {
        return tag;
    }
    std::string commit = text(*value, "commit", 64);
    if (commit.empty()) {
        return std::nullopt;
    }
    return commit.substr(0, 12);
}

std::optional<std::uint64_t> address(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 16) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size() || value == 0) {
        return std::nullopt;
    }
    return value;
}

std::string addressText(std::uint64_t address) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(address));
    return buffer;
}

FocusRequests focusRequests(std::uint64_t address) {
    // Only hex digits go into the Lua: nothing of a window's own text is ever run.
    const std::string selector = "address:" + addressText(address);
    return {"dispatch focuswindow " + selector,
            "dispatch hl.dsp.focus({ window = \"" + selector + "\" })"};
}

bool dispatched(const std::string& reply, std::string* error) {
    std::string_view answer(reply);
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == ' ')) {
        answer.remove_suffix(1);
    }
    if (answer == "ok") {
        return true;
    }
    say(error, answer.empty() ? std::string("no answer") : truncateUtf8(std::string(answer), 256));
    return false;
}

std::optional<Event> event(std::string_view line) {
    const auto separator = line.find(">>");
    if (separator == std::string_view::npos || separator == 0 || separator > 64) {
        return std::nullopt;
    }
    const std::string_view name = line.substr(0, separator);
    if (!std::all_of(name.begin(), name.end(),
                     [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); })) {
        return std::nullopt;
    }
    return Event{std::string(name), std::string(line.substr(separator + 2))};
}

Touches touches(const std::string& name) {
    // What moves windows between workspaces shown and not, and the monitors themselves.
    static const char* const monitorEvents[] = {
        "monitoradded",  "monitoraddedv2",  "monitorremoved", "monitorremovedv2", "workspace",
        "workspacev2",   "focusedmon",      "focusedmonv2",   "moveworkspace",    "moveworkspacev2",
        "activespecial", "activespecialv2", "configreloaded"};
    static const char* const windowEvents[] = {"activewindow",       "activewindowv2",
                                               "openwindow",         "closewindow",
                                               "movewindow",         "movewindowv2",
                                               "windowtitle",        "windowtitlev2",
                                               "changefloatingmode", "fullscreen",
                                               "togglegroup",        "moveintogroup",
                                               "moveoutofgroup",     "pin",
                                               "minimized"};
    for (const char* known : monitorEvents) {
        if (name == known) {
            return Touches::windowsAndMonitors;
        }
    }
    for (const char* known : windowEvents) {
        if (name == known) {
            return Touches::windows;
        }
    }
    return Touches::nothing;
}

std::optional<std::vector<std::string>> chordsRunning(const std::string& reply,
                                                      std::string_view command) {
    const auto value = parseBoundedJson(reply, replyLimits);
    if (!value || !value->is_array()) {
        return std::nullopt;
    }
    // The modifier bits as Hyprland lists them (xkb's).
    static const std::pair<std::int64_t, const char*> modifiers[] = {
        {64, "SUPER"}, {4, "CTRL"}, {8, "ALT"}, {1, "SHIFT"}};
    std::vector<std::string> chords;
    for (const auto& bind : *value) {
        // Whatever the dispatcher is called: "exec" classically, another name in Lua.
        if (!bind.is_object() || text(bind, "arg", 4096).find(command) == std::string::npos) {
            continue;
        }
        const std::int64_t mask = integer(bind, "modmask", 0);
        std::string chord;
        for (const auto& [bit, name] : modifiers) {
            if (mask & bit) {
                chord += std::string(name) + "+";
            }
        }
        chord += text(bind, "key", 64);
        chords.push_back(std::move(chord));
    }
    return chords;
}

} // namespace orvane::linuxbackend::HyprlandJson
