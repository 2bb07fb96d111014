// What Orvane reads from its KWin script: any text as any of the script's messages gives
// values within their bounds, or nothing. An input's first line names the message
// ("Windows"); with any other first line the whole input goes to every reader.
#include "FuzzChecks.hpp"
#include "backends/linux/wayland/kwin/KWinScriptMessages.hpp"

#include <cmath>
#include <cstdint>
#include <set>
#include <string_view>

namespace {

using namespace orvane::linuxbackend;
using orvane::fuzz::require;
namespace M = KWinScriptMessages;

bool sound(const plinth::Rect& r) {
    return std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.width) &&
           std::isfinite(r.height) && r.width >= 0 && r.height >= 0;
}

void windows(std::string_view message) {
    const auto windows = M::parseWindows(message);
    if (!windows) {
        return;
    }
    require(windows->size() <= M::maximumWindows, "more windows than the bound");
    std::set<std::string> ids;
    KWinWindowIds numbers;
    std::vector<std::string> live;
    for (const auto& window : *windows) {
        require(!window.id.empty() && window.id.size() <= M::idBytes, "a window id out of bounds");
        require(ids.insert(window.id).second, "a window listed twice");
        require(window.caption.size() <= M::captionBytes, "a caption past its bound");
        require(orvane::fuzz::isUtf8(window.caption), "a caption cut inside a character");
        require(window.resourceClass.size() <= M::classBytes, "a class past its bound");
        require(window.flags.size() <= 32, "too many flags");
        require(sound(window.frame) && sound(window.buffer), "a frame that is no rectangle");
        require(window.output >= -1 && window.output < 1024, "an output out of range");
        require(!M::windowType(window.flags).empty(), "no window type");
        live.push_back(window.id);
        require(numbers.uuidOf(numbers.idFor(window.id)) == window.id, "ids do not round-trip");
    }
    numbers.keepOnly(live);
}

void outputs(std::string_view message) {
    const auto outputs = M::parseOutputs(message);
    if (!outputs) {
        return;
    }
    require(outputs->size() <= 64, "more outputs than the bound");
    for (const auto& output : *outputs) {
        require(sound(output.stageFrame) && output.stageFrame.width > 0, "an empty output");
        require(!output.connector.empty() && output.connector.size() <= 64, "an output name");
    }
}

void small(std::string_view message) {
    if (const auto done = M::parseDone(message)) {
        require(done->active.size() <= M::idBytes, "an active id past its bound");
    }
    if (const auto point = M::parseCursor(message)) {
        require(std::fabs(point->x) <= 1e6 && std::fabs(point->y) <= 1e6, "a cursor off the map");
    }
    if (const auto hello = M::parseHello(message)) {
        require(hello->api == 0 || hello->api == 5 || hello->api == 6, "an unknown API");
    }
    if (const auto active = M::parseActive(message)) {
        require(active->size() <= M::idBytes, "an active id past its bound");
    }
    require(M::versionFromSupportInformation(message).size() <= 32, "a version too long");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto newline = input.find('\n');
    const std::string_view kind = input.substr(0, newline);
    const std::string_view message =
        newline == std::string_view::npos ? input : input.substr(newline + 1);
    if (kind == "Windows") {
        windows(message);
    } else if (kind == "Outputs") {
        outputs(message);
    } else if (kind == "Hello" || kind == "Done" || kind == "Cursor" || kind == "Active") {
        small(message);
    } else {
        windows(input);
        outputs(input);
        small(input);
    }
    return 0;
}
