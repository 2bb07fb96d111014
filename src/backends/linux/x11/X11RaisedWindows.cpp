#include "backends/linux/x11/X11RaisedWindows.hpp"

#include <algorithm>

namespace orvane::linuxbackend {
namespace {

bool isListedClient(const std::vector<X11WindowInfo>& windows, Window window) {
    return std::any_of(windows.begin(), windows.end(), [window](const X11WindowInfo& info) {
        return info.isClient && info.window == window;
    });
}

// The remembered window is still the one the user left the application in.
bool isFrontmost(pid_t pid, Window window, const std::vector<X11WindowInfo>& frontToBack,
                 Window active) {
    if (active == window) {
        return true;
    }
    const auto self =
        std::find_if(frontToBack.begin(), frontToBack.end(), [window](const X11WindowInfo& info) {
            return info.isClient && info.window == window;
        });
    if (self == frontToBack.end()) {
        return false;
    }
    for (auto it = frontToBack.begin(); it != frontToBack.end(); ++it) {
        // Its windows of other layers (tool palettes, dialogs kept on top) are no move away.
        if (it == self || !it->isClient || it->pid != pid || it->layer != self->layer) {
            continue;
        }
        // The user works in another of its windows, or brought one above it.
        if (it->window == active || it < self) {
            return false;
        }
    }
    return true;
}

} // namespace

void X11RaisedWindows::remember(pid_t pid, Window window) {
    windows_[pid] = Remembered{window, false};
}

std::optional<Window> X11RaisedWindows::windowFor(pid_t pid,
                                                  const std::vector<X11WindowInfo>& frontToBack,
                                                  Window active) {
    std::erase_if(windows_, [&](const auto& entry) {
        return entry.first != pid && entry.second.lookedUp &&
               !isListedClient(frontToBack, entry.second.window);
    });
    auto it = windows_.find(pid);
    if (it == windows_.end()) {
        return std::nullopt;
    }
    Remembered& remembered = it->second;
    const bool listed =
        std::any_of(frontToBack.begin(), frontToBack.end(), [&](const X11WindowInfo& info) {
            return info.isClient && info.window == remembered.window && info.pid == pid;
        });
    const bool firstLookUp = !remembered.lookedUp;
    remembered.lookedUp = true;
    if (!listed || (!firstLookUp && !isFrontmost(pid, remembered.window, frontToBack, active))) {
        windows_.erase(it);
        return std::nullopt;
    }
    return remembered.window;
}

} // namespace orvane::linuxbackend
