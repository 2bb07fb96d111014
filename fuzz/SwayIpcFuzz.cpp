// What Orvane reads from sway's IPC socket: any byte stream, cut into reads anywhere, gives
// frames within the bound, and each payload read as the reply or event its type names gives
// values within their bounds, or nothing. The first byte of an input sets how the rest is cut
// into reads.
#include "FuzzChecks.hpp"
#include "backends/linux/wayland/sway/SwayIpc.hpp"
#include "backends/linux/wayland/sway/SwayJson.hpp"

#include <cmath>
#include <cstdint>
#include <set>

namespace {

using namespace orvane::linuxbackend;
using orvane::fuzz::require;

const std::vector<CompositorMonitor>& twoOutputs() {
    static const auto* monitors = new std::vector<CompositorMonitor>(*SwayJson::monitors(
        R"([{"name":"HEADLESS-1","active":true,"rect":{"x":0,"y":0,"width":1920,"height":1080}},
            {"name":"HEADLESS-2","active":true,
             "rect":{"x":1920,"y":0,"width":1920,"height":1080}}])"));
    return *monitors;
}

void tree(const std::string& payload) {
    const auto read = SwayJson::windows(payload, twoOutputs());
    if (!read) {
        return;
    }
    require(read->windows.size() <= SwayJson::maximumWindows, "more windows than the bound");
    bool focusListed = read->focus == 0;
    for (const auto& window : read->windows) {
        require(window.title.size() <= SwayJson::titleBytes, "a title past its bound");
        require(orvane::fuzz::isUtf8(window.title), "a title cut inside a character");
        require(window.applicationId.size() <= SwayJson::appIdBytes, "an app id past its bound");
        require(window.monitor >= -1 && window.monitor < 2, "a monitor out of range");
        focusListed = focusListed || window.id == read->focus;
    }
    require(focusListed, "focus on a window not listed");
}

void outputs(const std::string& payload) {
    if (const auto monitors = SwayJson::monitors(payload)) {
        require(monitors->size() <= SwayJson::maximumOutputs, "more outputs than the bound");
        for (std::size_t i = 0; i < monitors->size(); ++i) {
            const auto& frame = (*monitors)[i].stageFrame;
            require(frame.width > 0 && frame.height > 0, "an empty output");
            require((*monitors)[i].primary == (i == 0), "not one primary, first");
        }
    }
}

void event(const std::string& payload) {
    if (const auto command = SwayJson::bindingCommand(payload)) {
        require(command->size() <= SwayJson::commandBytes, "a command past its bound");
    }
    (void)SwayJson::change(payload);
}

void reply(const SwayIpc::Message& message) {
    require(message.payload.size() <= SwayIpc::maximumPayload, "a frame past the bound");
    switch (message.type) {
    case SwayIpc::getTree:
        tree(message.payload);
        break;
    case SwayIpc::getOutputs:
        outputs(message.payload);
        break;
    case SwayIpc::workspaceEvent:
    case SwayIpc::bindingEvent:
    case SwayIpc::windowEvent:
        event(message.payload);
        break;
    case SwayIpc::runCommand:
    case SwayIpc::subscribe:
        (void)SwayJson::commandSucceeded(message.payload);
        break;
    case SwayIpc::getVersion:
        (void)SwayJson::version(message.payload);
        break;
    case SwayIpc::getSeats:
        (void)SwayJson::seatName(message.payload);
        break;
    case SwayIpc::getConfig:
        (void)SwayJson::configText(message.payload);
        break;
    default:
        tree(message.payload);
        outputs(message.payload);
        event(message.payload);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t chunk = 1 + data[0] % 64;
    SwayIpc::FrameReader reader;
    std::size_t messages = 0;
    for (std::size_t at = 1; at < size; at += chunk) {
        reader.feed(reinterpret_cast<const char*>(data) + at, std::min(chunk, size - at));
        while (auto message = reader.next()) {
            ++messages;
            reply(*message);
        }
    }
    require(messages <= size / SwayIpc::headerSize, "more frames than the bytes hold");
    if (reader.broken()) {
        require(!reader.problem().empty(), "broken without a reason");
        reader.feed(reinterpret_cast<const char*>(data), size);
        require(!reader.next(), "a frame read after the stream broke");
    }
    return 0;
}
