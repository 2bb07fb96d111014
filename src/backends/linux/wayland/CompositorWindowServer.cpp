#include "backends/linux/wayland/CompositorWindowServer.hpp"

#include "backends/linux/freedesktop/DesktopEntries.hpp"
#include "backends/linux/freedesktop/EvdevKeys.hpp"
#include "backends/linux/wayland/CompositorDisplays.hpp"
#include "backends/linux/wayland/CompositorKeys.hpp"
#include "backends/linux/wayland/CompositorLink.hpp"
#include "backends/linux/wayland/PostedKeys.hpp"
#include "plinth/ScreenGeometry.hpp"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <string_view>

namespace orvane::linuxbackend {
namespace {

bool isOneOf(const std::string& type, std::initializer_list<std::string_view> types) {
    return std::find(types.begin(), types.end(), type) != types.end();
}

} // namespace

CompositorWindowServer::CompositorWindowServer(std::shared_ptr<CompositorLink> link,
                                               std::shared_ptr<const DesktopEntries> entries,
                                               std::shared_ptr<PostedKeys> posted)
    : link_(std::move(link)), entries_(std::move(entries)), posted_(std::move(posted)) {}

std::optional<std::int64_t> CompositorWindowServer::layerOf(const CompositorWindow& window) {
    const std::string& type = window.type;
    if (type == "desktop") {
        return std::nullopt;
    }
    if (isOneOf(type, {"menu", "popup_menu", "dropdown_menu", "combo"})) {
        return popUpMenuLayer;
    }
    if (type == "dock") {
        return dockLayer;
    }
    if (type == "notification") {
        return notificationLayer;
    }
    if (isOneOf(type, {"tooltip", "dnd", "override_other"})) {
        return statusLayer;
    }
    if (window.above || isOneOf(type, {"toolbar", "splashscreen"})) {
        return floatingLayer;
    }
    // Normal windows, dialogs and utility windows are all windows focus may go to.
    return 0;
}

std::optional<std::vector<WindowRecord>> CompositorWindowServer::onScreenWindows() const {
    const auto snapshot = link_->snapshot();
    const auto primary = CompositorDisplays::primaryStage(snapshot);
    if (!primary || !snapshot.windows) {
        return std::nullopt;
    }
    // Asked several times for every pose and every switch, while the compositor's list changes
    // seldom: a list is made once for each that the link hears.
    if (listWindows_ != snapshot.windows || listMonitors_ != snapshot.monitors) {
        listWindows_ = snapshot.windows;
        listMonitors_ = snapshot.monitors;
        list_ = entriesOf(*snapshot.windows, *primary);
    }
    return list_;
}

std::vector<WindowRecord>
CompositorWindowServer::entriesOf(const std::vector<CompositorWindow>& windows,
                                  const plinth::Rect& primaryStage) const {
    std::vector<WindowRecord> entries;
    entries.reserve(windows.size());
    for (const auto& window : windows) {
        const auto layer = layerOf(window);
        if (!layer || window.minimized || window.frame.width <= 0 || window.frame.height <= 0) {
            continue;
        }
        WindowRecord entry;
        // 0 where the compositor never tells (the wlroots protocols): the window is still
        // reached by its id.
        entry.ownerPid = static_cast<std::int64_t>(window.pid);
        entry.number = static_cast<std::int64_t>(numberOf(window.id));
        const auto origin = plinth::ScreenGeometry::globalFromScreen(
            {window.frame.x, window.frame.y}, primaryStage);
        entry.bounds = plinth::Rect{origin.x, origin.y, window.frame.width, window.frame.height};
        // No content rectangle: the buffer holds the shadows of client-side decorations, and
        // around a server-side frame it is the frame, so neither is the area within the
        // decorations that a toolkit might describe.
        entry.layer = *layer;
        const auto owner =
            entries_->applicationName(window.applicationId, "", window.applicationId);
        if (!owner.empty()) {
            entry.ownerName = owner;
        }
        entry.title = window.title;
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool CompositorWindowServer::isMenuOpenInsideWindow() const {
    return link_->snapshot().shellModal == "menu";
}

plinth::Point CompositorWindowServer::pointerLocation() const {
    const auto snapshot = link_->snapshot();
    const auto primary = CompositorDisplays::primaryStage(snapshot);
    if (!primary) {
        return {};
    }
    plinth::Point stage;
    if (snapshot.input) {
        stage = {double(snapshot.input->x), double(snapshot.input->y)};
    } else if (const auto asked = link_->queryPointer()) {
        stage = *asked;
    }
    return plinth::ScreenGeometry::globalFromScreen(stage, *primary);
}

void CompositorWindowServer::warpPointer(plinth::Point point) {
    const auto primary = CompositorDisplays::primaryStage(link_->snapshot());
    if (!primary) {
        return;
    }
    const auto stage = plinth::ScreenGeometry::screenFromGlobal(point, *primary);
    const int x = static_cast<int>(std::lround(stage.x));
    const int y = static_cast<int>(std::lround(stage.y));
    // The compositor's idle timer takes our warp for input, as it does our keys.
    if (posted_) {
        posted_->warped();
    }
    link_->warpPointer(x, y);
}

bool CompositorWindowServer::postKey(std::uint32_t keyval, bool press) {
    if (posted_) {
        posted_->posted();
    }
    return link_->postKey(keyval, press);
}

void CompositorWindowServer::releasePressedModifiers() {
    const auto pressed = CompositorKeys::modifierKeyvals(pressedModifiers_);
    for (auto it = pressed.rbegin(); it != pressed.rend(); ++it) {
        postKey(*it, false);
    }
    pressedModifiers_ = 0;
}

bool CompositorWindowServer::postKeyEvent(Key key, std::uint64_t flags, bool keyDown) {
    const auto keyval = CompositorKeys::keyvalFromKey(key);
    if (!keyDown) {
        const bool released = keyval && postKey(*keyval, false);
        // Whatever the flags of the key-up, no modifier we pressed may stay down.
        releasePressedModifiers();
        return released;
    }
    if (!keyval) {
        return false;
    }
    const auto input = link_->snapshot().input;
    const std::uint64_t held = input ? CompositorKeys::systemFlagsFromClutter(input->state) : 0;
    const std::uint64_t missing = flags & ~held & ~ModifierFlag::capsLock;
    auto keys = CompositorKeys::modifierKeyvals(missing);
    keys.push_back(*keyval);
    const bool down = EvdevKeys::pressAll(
        keys, [this](unsigned int pressed) { return postKey(pressed, true); },
        [this](unsigned int released) { postKey(released, false); });
    if (down) {
        pressedModifiers_ |= missing;
    }
    return down;
}

} // namespace orvane::linuxbackend
