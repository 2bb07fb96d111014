#include "backends/linux/x11/X11WindowServer.hpp"

#include "backends/linux/freedesktop/DesktopEntries.hpp"
#include "backends/linux/freedesktop/EvdevKeys.hpp"
#include "backends/linux/x11/X11Connection.hpp"
#include "backends/linux/x11/X11Displays.hpp"
#include "backends/linux/x11/X11Keys.hpp"
#include "backends/linux/x11/X11PostedKeys.hpp"
#include "backends/linux/x11/X11WindowCache.hpp"
#include "backends/linux/x11/X11WindowList.hpp"
#include "plinth/ScreenGeometry.hpp"

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>

#include <cmath>

namespace orvane::linuxbackend {

X11WindowServer::X11WindowServer(std::shared_ptr<X11Connection> connection,
                                 std::shared_ptr<const DesktopEntries> entries)
    : connection_(std::move(connection)), entries_(std::move(entries)) {}

plinth::Rect X11WindowServer::primaryRoot() const {
    return displays_ ? displays_->primaryRoot() : X11Displays::primaryRootFrame(*connection_);
}

std::optional<std::vector<WindowRecord>> X11WindowServer::onScreenWindows() const {
    const plinth::Rect primary = primaryRoot();
    auto windows = X11WindowCache::windowsFrom(cache_.get(), *connection_);
    if (!windows) {
        return std::nullopt;
    }
    // The cache hands out the same list until something changes.
    if (windows != describedWindows_ || !(primary == describedPrimary_)) {
        described_ = entriesFor(*windows, primary);
        describedWindows_ = std::move(windows);
        describedPrimary_ = primary;
    }
    return described_;
}

std::vector<WindowRecord> X11WindowServer::entriesFor(const std::vector<X11WindowInfo>& windows,
                                                      const plinth::Rect& primary) const {
    std::vector<WindowRecord> entries;
    entries.reserve(windows.size());
    for (const auto& window : windows) {
        WindowRecord entry;
        if (window.pid) {
            entry.ownerPid = static_cast<std::int64_t>(*window.pid);
        }
        entry.number = static_cast<std::int64_t>(window.window);
        const auto origin = plinth::ScreenGeometry::globalFromScreen(
            {window.rootFrame.x, window.rootFrame.y}, primary);
        entry.bounds =
            plinth::Rect{origin.x, origin.y, window.rootFrame.width, window.rootFrame.height};
        if (window.isClient) {
            const auto content = plinth::ScreenGeometry::globalFromScreen(
                {window.clientFrame.x, window.clientFrame.y}, primary);
            entry.contentBounds = plinth::Rect{content.x, content.y, window.clientFrame.width,
                                               window.clientFrame.height};
        }
        entry.layer = window.layer;
        const auto owner =
            entries_->applicationName(window.applicationId, window.instanceName, window.className);
        if (!owner.empty()) {
            entry.ownerName = owner;
        }
        entry.title = window.title;
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::int64_t X11WindowServer::popUpMenuLevel() const {
    return X11WindowList::popUpMenuLayer;
}

bool X11WindowServer::isMenuOpenInsideWindow() const {
    return insideWindowMenu_ && insideWindowMenu_();
}

plinth::Point X11WindowServer::pointerLocation() const {
    if (!connection_->isAlive()) {
        return {};
    }
    X11Connection::ErrorTrap trap(*connection_);
    Window rootReturn = None, child = None;
    int rootX = 0, rootY = 0, windowX = 0, windowY = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(connection_->display(), connection_->root(), &rootReturn, &child, &rootX,
                       &rootY, &windowX, &windowY, &mask)) {
        return {};
    }
    return plinth::ScreenGeometry::globalFromScreen({double(rootX), double(rootY)}, primaryRoot());
}

void X11WindowServer::warpPointer(plinth::Point point) {
    if (!connection_->isAlive()) {
        return;
    }
    X11Connection::ErrorTrap trap(*connection_);
    const plinth::Rect primary = primaryRoot();
    const auto root = plinth::ScreenGeometry::screenFromGlobal(point, primary);
    XWarpPointer(connection_->display(), None, connection_->root(), 0, 0, 0, 0,
                 static_cast<int>(std::lround(root.x)), static_cast<int>(std::lround(root.y)));
    XFlush(connection_->display());
}

bool X11WindowServer::postKeyEvent(Key key, std::uint64_t flags, bool keyDown) {
    if (const auto keycode = X11Keys::xKeycodeFromKey(key)) {
        return postXKeyEvent(*keycode, flags, keyDown);
    }
    if (!keyDown && connection_->isAlive()) {
        X11Connection::ErrorTrap trap(*connection_);
        releasePressedModifiers();
        trap.sync();
    }
    return false;
}

bool X11WindowServer::postXKeyEvent(unsigned int xKeycode, std::uint64_t flags, bool keyDown) {
    if (!connection_->isAlive()) {
        return false;
    }
    ::Display* display = connection_->display();
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        return false;
    }
    if (!keyDown) {
        X11Connection::ErrorTrap trap(*connection_);
        fakeKey(xKeycode, false);
        // Whatever the flags of the key-up, no modifier we pressed may stay down.
        releasePressedModifiers();
        return trap.sync() == 0;
    }
    X11Connection::ErrorTrap trap(*connection_);
    XkbStateRec state{};
    XkbGetState(display, XkbUseCoreKbd, &state);
    const std::uint64_t held = X11Keys::systemFlagsFromX(state.mods);
    // Caps Lock is a latched state, not a key to hold.
    const std::uint64_t missing = flags & ~held & ~ModifierFlag::capsLock;
    auto keys = X11Keys::modifierKeycodes(missing);
    keys.push_back(xKeycode);
    // Each press is confirmed before the next, so that a refused one releases exactly the keys
    // that went down.
    const bool down = EvdevKeys::pressAll(
        keys,
        [&](unsigned int keycode) {
            X11Connection::ErrorTrap pressTrap(*connection_);
            fakeKey(keycode, true);
            return pressTrap.sync() == 0;
        },
        [&](unsigned int keycode) { fakeKey(keycode, false); });
    if (!down) {
        trap.sync();
        return false;
    }
    pressedModifiers_ |= missing;
    return true;
}

void X11WindowServer::releasePressedModifiers() {
    const auto pressed = X11Keys::modifierKeycodes(pressedModifiers_);
    for (auto it = pressed.rbegin(); it != pressed.rend(); ++it) {
        fakeKey(*it, false);
    }
    pressedModifiers_ = 0;
}

void X11WindowServer::fakeKey(unsigned int keycode, bool press) {
    if (posted_) {
        posted_->posted(keycode, press);
    }
    XTestFakeKeyEvent(connection_->display(), keycode, press ? True : False, CurrentTime);
}

} // namespace orvane::linuxbackend
