#include "backends/linux/wayland/sway/SwayJson.hpp"

#include "backends/linux/wayland/BoundedJson.hpp"
#include "backends/linux/wayland/sway/SwayIpc.hpp"

#include <algorithm>

namespace orvane::linuxbackend::SwayJson {
namespace {

using nlohmann::json;

// The tree (and the workspace events, which hold a workspace's): some 100 values a view, a
// split container, workspace or output nested two levels a step. A title may be long on X11;
// what is kept of it is cut.
constexpr JsonLimits treeLimits{SwayIpc::maximumPayload, maximumWindows * 160, 128, 1u << 20};
// get_outputs lists every mode of every output.
constexpr JsonLimits outputLimits{1u << 20, 65'536, 16, 4096};
// Versions, seats, command results, binding events.
constexpr JsonLimits replyLimits{1u << 20, 65'536, 16, 65'536};
// The config is one string.
constexpr JsonLimits configLimits{SwayIpc::maximumPayload, 4096, 8, SwayIpc::maximumPayload};

std::optional<json> parse(const std::string& text, const JsonLimits& limits = replyLimits,
                          std::string* problem = nullptr) {
    return parseBoundedJson(text, limits, problem);
}

void say(std::string* problem, std::string text) {
    if (problem) {
        *problem = std::move(text);
    }
}

double number(const json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_number() ? found->get<double>() : 0.0;
}

std::string text(const json& object, const char* key, std::size_t limit = 4096) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string()
               ? truncateUtf8(found->get<std::string>(), limit)
               : std::string();
}

bool flag(const json& object, const char* key, bool absent) {
    const auto found = object.find(key);
    return found != object.end() && found->is_boolean() ? found->get<bool>() : absent;
}

plinth::Rect rect(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_object()) {
        return {};
    }
    return {number(*found, "x"), number(*found, "y"), number(*found, "width"),
            number(*found, "height")};
}

// A view has a pid and a shell; split containers, workspaces and outputs have neither.
bool isView(const json& node) {
    return node.contains("pid") || node.contains("app_id") || node.contains("shell");
}

struct Found {
    CompositorWindow window;
    int rank = 0; // front to back: fullscreen, floating, tiled, not shown
};

// Its depth is the document's, which the parse bounded.
struct Walk {
    const std::vector<CompositorMonitor>& monitors;
    std::vector<Found> found;
    std::uint64_t focus = 0;
    bool tooMany = false;

    void node(const json& node, int monitor, bool scratchpad, bool floating) {
        if (!node.is_object() || tooMany) {
            return;
        }
        const std::string type = text(node, "type");
        if (type == "output") {
            const std::string name = text(node, "name");
            scratchpad = name == "__i3";
            monitor = -1;
            for (std::size_t i = 0; i < monitors.size(); ++i) {
                if (monitors[i].connector == name) {
                    monitor = static_cast<int>(i);
                }
            }
        } else if (type == "workspace" && text(node, "name") == "__i3_scratch") {
            scratchpad = true;
        }
        if (isView(node) && node.contains("id") && node["id"].is_number_unsigned()) {
            view(node, monitor, scratchpad, floating || type == "floating_con");
        }
        // The last floating container is drawn on top: walked first, so first in the list.
        if (const auto floats = node.find("floating_nodes");
            floats != node.end() && floats->is_array()) {
            for (auto child = floats->rbegin(); child != floats->rend(); ++child) {
                this->node(*child, monitor, scratchpad, true);
            }
        }
        if (const auto tiles = node.find("nodes"); tiles != node.end() && tiles->is_array()) {
            for (const auto& child : *tiles) {
                this->node(child, monitor, scratchpad, floating);
            }
        }
    }

    void view(const json& node, int monitor, bool scratchpad, bool floating) {
        if (found.size() >= maximumWindows) {
            tooMany = true;
            return;
        }
        CompositorWindow window;
        window.id = node["id"].get<std::uint64_t>();
        const double pid = number(node, "pid");
        window.pid = pid > 0 && pid < 4294967296.0 ? static_cast<std::uint32_t>(pid) : 0;
        window.applicationId = text(node, "app_id", appIdBytes);
        const auto properties = node.find("window_properties");
        const bool hasProperties = properties != node.end() && properties->is_object();
        if (window.applicationId.empty() && hasProperties) {
            window.applicationId = text(*properties, "class", appIdBytes);
        }
        window.title = text(node, "name", titleBytes);
        const std::string windowType = hasProperties ? text(*properties, "window_type", 64) : "";
        window.type = windowType.empty() || windowType == "unknown" ? "normal" : windowType;
        // The rectangle holds the borders; the title bar sits above it.
        const plinth::Rect content = rect(node, "rect");
        const plinth::Rect deco = rect(node, "deco_rect");
        window.frame = content;
        if (deco.height > 0) {
            window.frame.y -= deco.height;
            window.frame.height += deco.height;
        }
        const plinth::Rect inner = rect(node, "window_rect");
        window.buffer = {content.x + inner.x, content.y + inner.y, inner.width, inner.height};
        window.monitor = scratchpad ? -1 : monitor;
        window.minimized = scratchpad || !flag(node, "visible", true);
        if (flag(node, "focused", false)) {
            focus = window.id;
        }
        int rank = 2;
        if (window.minimized) {
            rank = 3;
        } else if (number(node, "fullscreen_mode") > 0) {
            rank = 0;
        } else if (floating) {
            rank = 1;
        }
        found.push_back({std::move(window), rank});
    }
};

} // namespace

std::optional<std::vector<CompositorMonitor>> monitors(const std::string& outputs,
                                                       std::string* problem) {
    const auto value = parse(outputs, outputLimits, problem);
    if (!value) {
        return std::nullopt;
    }
    if (!value->is_array() || value->size() > maximumOutputs) {
        say(problem, value->is_array() ? std::to_string(value->size()) + " outputs"
                                       : "not a list of outputs");
        return std::nullopt;
    }
    std::vector<CompositorMonitor> list;
    for (const auto& output : *value) {
        if (!output.is_object() || !flag(output, "active", false)) {
            continue;
        }
        CompositorMonitor monitor;
        monitor.stageFrame = rect(output, "rect");
        monitor.connector = text(output, "name", 64);
        std::string name = text(output, "make", 128);
        const std::string model = text(output, "model", 128);
        if (name == "Unknown") {
            name.clear();
        }
        if (!model.empty() && model != "Unknown" && model != name) {
            name += (name.empty() ? "" : " ") + model;
        }
        monitor.name = name.empty() ? monitor.connector : name;
        if (monitor.stageFrame.width > 0 && monitor.stageFrame.height > 0) {
            list.push_back(std::move(monitor));
        }
    }
    const auto atOrigin = std::find_if(list.begin(), list.end(), [](const auto& monitor) {
        return monitor.stageFrame.x == 0 && monitor.stageFrame.y == 0;
    });
    if (atOrigin != list.end()) {
        std::rotate(list.begin(), atOrigin, atOrigin + 1);
    }
    if (!list.empty()) {
        list.front().primary = true;
    }
    return list;
}

std::optional<Windows> windows(const std::string& tree,
                               const std::vector<CompositorMonitor>& monitors,
                               std::string* problem) {
    const auto value = parse(tree, treeLimits, problem);
    if (!value) {
        return std::nullopt;
    }
    if (!value->is_object()) {
        say(problem, "not a tree");
        return std::nullopt;
    }
    Walk walk{monitors, {}, 0, false};
    walk.node(*value, -1, false, false);
    if (walk.tooMany) {
        say(problem, "more than " + std::to_string(maximumWindows) + " windows");
        return std::nullopt;
    }
    std::stable_sort(walk.found.begin(), walk.found.end(),
                     [](const Found& a, const Found& b) { return a.rank < b.rank; });
    Windows result;
    result.focus = walk.focus;
    for (auto& found : walk.found) {
        result.windows.push_back(std::move(found.window));
    }
    return result;
}

std::optional<std::string> version(const std::string& reply) {
    const auto value = parse(reply);
    if (!value || !value->is_object()) {
        return std::nullopt;
    }
    std::string readable = text(*value, "human_readable");
    // Builds from git say "1.10-dev-abc123 (Jan 1 2025, branch 'master')".
    if (const auto space = readable.find(' '); space != std::string::npos) {
        readable.resize(space);
    }
    if (readable.empty() && value->contains("major")) {
        readable = std::to_string(static_cast<int>(number(*value, "major"))) + "." +
                   std::to_string(static_cast<int>(number(*value, "minor"))) + "." +
                   std::to_string(static_cast<int>(number(*value, "patch")));
    }
    return readable.empty() ? std::nullopt : std::optional(readable);
}

std::optional<std::string> seatName(const std::string& seats) {
    const auto value = parse(seats);
    if (!value || !value->is_array() || value->empty() || !(*value)[0].is_object()) {
        return std::nullopt;
    }
    std::string name = text((*value)[0], "name");
    return name.empty() ? std::nullopt : std::optional(name);
}

bool commandSucceeded(const std::string& reply, std::string* error) {
    const auto value = parse(reply);
    if (!value || !value->is_array() || value->empty()) {
        if (error) {
            *error = "sway's answer could not be read";
        }
        return false;
    }
    for (const auto& result : *value) {
        if (!result.is_object() || !flag(result, "success", false)) {
            if (error) {
                *error = result.is_object() ? text(result, "error") : std::string();
            }
            return false;
        }
    }
    return true;
}

std::optional<std::string> bindingCommand(const std::string& event) {
    const auto value = parse(event);
    if (!value || !value->is_object() || text(*value, "change") != "run") {
        return std::nullopt;
    }
    const auto binding = value->find("binding");
    if (binding == value->end() || !binding->is_object()) {
        return std::nullopt;
    }
    return text(*binding, "command", commandBytes);
}

std::optional<std::string> change(const std::string& event) {
    const auto value = parse(event, treeLimits);
    if (!value || !value->is_object()) {
        return std::nullopt;
    }
    return text(*value, "change");
}

std::optional<std::string> configText(const std::string& reply) {
    const auto value = parse(reply, configLimits);
    if (!value || !value->is_object() || !value->contains("config") ||
        !value->at("config").is_string()) {
        return std::nullopt;
    }
    std::string config = value->at("config").get<std::string>();
    // sway 1.9 and later list the included files too.
    if (const auto included = value->find("included_configs");
        included != value->end() && included->is_array()) {
        for (const auto& file : *included) {
            if (file.is_object() && file.contains("variable_replaced_config")) {
                config += "\n" + text(file, "variable_replaced_config", SwayIpc::maximumPayload);
            } else if (file.is_object()) {
                config += "\n" + text(file, "raw_contents", SwayIpc::maximumPayload);
            }
        }
    }
    return config;
}

} // namespace orvane::linuxbackend::SwayJson
