// What Orvane reads from Hyprland's sockets: the event stream, cut into reads anywhere, gives
// lines within the bound, and any text read as each reply gives values within their bounds,
// or nothing. The first byte of an input sets how the rest is cut into reads.
#include "FuzzChecks.hpp"
#include "backends/linux/wayland/hyprland/HyprlandIpc.hpp"
#include "backends/linux/wayland/hyprland/HyprlandJson.hpp"

#include <cmath>
#include <cstdint>
#include <set>

namespace {

using namespace orvane::linuxbackend;
using orvane::fuzz::require;

const std::vector<HyprlandJson::Monitor>& twoMonitors() {
    static const auto* monitors = new std::vector<HyprlandJson::Monitor>(*HyprlandJson::monitors(
        R"([{"id":0,"name":"DP-1","width":2560,"height":1440,"x":0,"y":0,"scale":1.25,
             "activeWorkspace":{"id":1}},
            {"id":1,"name":"HDMI-A-1","width":1920,"height":1080,"x":2048,"y":0,"scale":1,
             "activeWorkspace":{"id":2}}])"));
    return *monitors;
}

bool bounded(double value) {
    return std::isfinite(value) && std::abs(value) <= HyprlandJson::maximumCoordinate;
}

void clients(const std::string& text) {
    const auto windows = HyprlandJson::windows(text, twoMonitors());
    if (!windows) {
        return;
    }
    require(windows->size() <= HyprlandJson::maximumWindows, "more windows than the bound");
    std::set<std::uint64_t> ids;
    bool minimised = false;
    for (const auto& window : *windows) {
        require(window.id != 0 && ids.insert(window.id).second, "an id missing or listed twice");
        require(window.title.size() <= HyprlandJson::titleBytes, "a title past its bound");
        require(orvane::fuzz::isUtf8(window.title), "a title cut inside a character");
        require(window.applicationId.size() <= HyprlandJson::classBytes, "a class past its bound");
        require(window.monitor >= -1 && window.monitor < 2, "a monitor out of range");
        require(bounded(window.frame.x) && bounded(window.frame.y) && window.frame.width >= 0 &&
                    window.frame.height >= 0 && bounded(window.frame.width) &&
                    bounded(window.frame.height),
                "a frame out of bounds");
        require(!minimised || window.minimized, "a window shown behind one that is not");
        minimised = window.minimized;
    }
}

void monitors(const std::string& text) {
    if (const auto read = HyprlandJson::monitors(text)) {
        require(read->size() <= HyprlandJson::maximumMonitors, "more monitors than the bound");
        for (std::size_t i = 0; i < read->size(); ++i) {
            const auto& frame = (*read)[i].monitor.stageFrame;
            require(frame.width > 0 && frame.height > 0, "an empty monitor");
            require(bounded(frame.x) && bounded(frame.y), "a monitor out of bounds");
            require((*read)[i].monitor.primary == (i == 0), "not one primary, first");
        }
    }
}

void smallReplies(const std::string& text) {
    (void)HyprlandJson::activeWindow(text);
    if (const auto cursor = HyprlandJson::cursor(text)) {
        require(bounded(cursor->x) && bounded(cursor->y), "a pointer out of bounds");
    }
    (void)HyprlandJson::version(text);
    (void)HyprlandJson::dispatched(text);
    (void)HyprlandJson::chordsRunning(text, "--toggle-pause");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    clients(text);
    monitors(text);
    smallReplies(text);

    const std::size_t chunk = 1 + data[0] % 64;
    HyprlandIpc::LineReader reader;
    std::size_t lines = 0;
    for (std::size_t at = 1; at < size; at += chunk) {
        reader.feed(reinterpret_cast<const char*>(data) + at, std::min(chunk, size - at));
        while (auto line = reader.next()) {
            ++lines;
            require(line->size() <= HyprlandIpc::maximumEventLine, "a line past the bound");
            require(line->find('\n') == std::string::npos, "a line holding its end");
            if (const auto event = HyprlandJson::event(*line)) {
                require(!event->name.empty(), "an event without a name");
                (void)HyprlandJson::touches(event->name);
                (void)HyprlandJson::address(event->data.substr(0, event->data.find(',')));
            }
        }
    }
    require(lines <= size, "more lines than the bytes hold");
    return 0;
}
