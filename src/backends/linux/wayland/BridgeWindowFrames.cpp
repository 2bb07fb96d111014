#include "backends/linux/wayland/BridgeWindowFrames.hpp"

namespace orvane::linuxbackend {

std::optional<std::vector<AtspiTopLevel>> BridgeWindowFrames::windowsOf(pid_t pid) {
    if (!hooks_.windows) {
        return std::nullopt;
    }
    auto windows = hooks_.windows(pid);
    if (!windows) {
        return std::nullopt;
    }
    std::vector<AtspiTopLevel> result;
    result.reserve(windows->size());
    for (auto& window : *windows) {
        // A window not yet placed has no frame to map through.
        if (window.frame.width <= 0 || window.frame.height <= 0) {
            continue;
        }
        // The compositor knows no decorations but the client's own, which lie inside the
        // frame: the content is the frame.
        const plinth::Rect drawn = window.buffer.width > 0 ? window.buffer : window.frame;
        result.push_back({window.id, std::move(window.title), window.frame, window.frame, drawn});
    }
    return result;
}

void BridgeWindowFrames::remember(pid_t pid, std::uint64_t window) {
    if (hooks_.remember) {
        hooks_.remember(pid, window);
    }
}

bool BridgeWindowFrames::raise(std::uint64_t window) {
    return hooks_.raise && hooks_.raise(window);
}

} // namespace orvane::linuxbackend
