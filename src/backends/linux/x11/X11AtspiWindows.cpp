#include "backends/linux/x11/X11AtspiWindows.hpp"

#include "backends/linux/x11/X11Connection.hpp"
#include "backends/linux/x11/X11Displays.hpp"
#include "backends/linux/x11/X11RaisedWindows.hpp"
#include "backends/linux/x11/X11WindowCache.hpp"
#include "backends/linux/x11/X11WindowList.hpp"
#include "plinth/ScreenGeometry.hpp"

namespace orvane::linuxbackend {
namespace {

plinth::Rect globalRect(const plinth::Rect& root, const plinth::Rect& primary) {
    const auto origin = plinth::ScreenGeometry::globalFromScreen({root.x, root.y}, primary);
    return {origin.x, origin.y, root.width, root.height};
}

} // namespace

X11AtspiWindows::X11AtspiWindows(std::shared_ptr<X11Connection> connection,
                                 std::shared_ptr<X11RaisedWindows> raised,
                                 std::shared_ptr<X11WindowCache> cache,
                                 std::shared_ptr<const X11Displays> displays)
    : connection_(std::move(connection)), raised_(std::move(raised)), cache_(std::move(cache)),
      displays_(std::move(displays)) {}

plinth::Rect X11AtspiWindows::primary() const {
    return displays_ ? displays_->primaryRoot() : X11Displays::primaryRootFrame(*connection_);
}

std::optional<std::vector<AtspiTopLevel>> X11AtspiWindows::windowsOf(pid_t pid) {
    auto windows = X11WindowCache::windowsFrom(cache_.get(), *connection_);
    if (!windows) {
        return std::nullopt;
    }
    std::vector<AtspiTopLevel> result;
    std::optional<plinth::Rect> primaryRoot;
    for (const auto& window : *windows) {
        if (!window.isClient || window.pid != pid) {
            continue;
        }
        if (!primaryRoot) {
            primaryRoot = primary();
        }
        result.push_back({static_cast<std::uint64_t>(window.window), window.title,
                          globalRect(window.rootFrame, *primaryRoot),
                          globalRect(window.clientFrame, *primaryRoot),
                          globalRect(window.shadow.grow(window.clientFrame), *primaryRoot)});
    }
    return result;
}

plinth::Point X11AtspiWindows::screenFromGlobal(plinth::Point global) {
    return plinth::ScreenGeometry::screenFromGlobal(global, primary());
}

plinth::Point X11AtspiWindows::globalFromScreen(plinth::Point screen) {
    return plinth::ScreenGeometry::globalFromScreen(screen, primary());
}

void X11AtspiWindows::remember(pid_t pid, std::uint64_t window) {
    raised_->remember(pid, static_cast<Window>(window));
}

bool X11AtspiWindows::raise(std::uint64_t window) {
    X11Connection::ErrorTrap trap(*connection_);
    XRaiseWindow(connection_->display(), static_cast<Window>(window));
    return trap.sync() == 0;
}

} // namespace orvane::linuxbackend
