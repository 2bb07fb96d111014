#pragma once

#include "backends/linux/x11/X11Displays.hpp"
#include "backends/linux/x11/X11WindowList.hpp"
#include "orvane/platform/WindowServer.hpp"

#include <functional>
#include <memory>

namespace orvane::linuxbackend {

class X11Connection;
class DesktopEntries;
class X11PostedKeys;
class X11WindowCache;

// The window list, the pointer and synthetic keys on X11. Main thread.
class X11WindowServer : public WindowServer {
public:
    X11WindowServer(std::shared_ptr<X11Connection> connection,
                    std::shared_ptr<const DesktopEntries> entries);

    std::optional<std::vector<WindowRecord>> onScreenWindows() const override;
    std::int64_t popUpMenuLevel() const override;
    // Asks the check it was given; false without one.
    bool isMenuOpenInsideWindow() const override;
    plinth::Point pointerLocation() const override;
    void warpPointer(plinth::Point point) override;
    // XTest makes real key events, whose modifier state is the keyboard's: the modifier keys in
    // `flags` that are not already down are pressed before the key goes down and released after
    // it comes up. A key-down that fails releases whatever it pressed (callers send no key-up
    // after a failed key-down); a key-up releases our modifiers even when its own key fails.
    bool postKeyEvent(Key key, std::uint64_t flags, bool keyDown) override;
    // The same for an X keycode, which the server may refuse.
    bool postXKeyEvent(unsigned int xKeycode, std::uint64_t flags, bool keyDown);

    // Where the primary monitor is comes from these remembered monitors rather than a
    // round trip a listing.
    void setDisplays(std::shared_ptr<const X11Displays> displays) {
        displays_ = std::move(displays);
    }

    // Listings come from this cache (when set) instead of the server on every call.
    void setWindowCache(std::shared_ptr<X11WindowCache> cache) { cache_ = std::move(cache); }

    // Where the keys this server posts are noted, so that the input monitor does not take them
    // for the user's.
    void setPostedKeys(std::shared_ptr<X11PostedKeys> posted) { posted_ = std::move(posted); }

    // Who knows of menus drawn inside the focused window (the accessibility tree).
    void setInsideWindowMenuCheck(std::function<bool()> check) {
        insideWindowMenu_ = std::move(check);
    }

private:
    plinth::Rect primaryRoot() const;
    std::vector<WindowRecord> entriesFor(const std::vector<X11WindowInfo>& windows,
                                         const plinth::Rect& primary) const;

    // Sends the releases of the modifier keys our key-downs pressed, last first.
    void releasePressedModifiers();
    void fakeKey(unsigned int keycode, bool press);

    std::shared_ptr<X11Connection> connection_;
    std::shared_ptr<const X11Displays> displays_;
    std::shared_ptr<const DesktopEntries> entries_;
    std::shared_ptr<X11WindowCache> cache_;
    std::function<bool()> insideWindowMenu_;
    std::shared_ptr<X11PostedKeys> posted_;
    // The entries last made, for as long as the list and the primary monitor stay the same.
    mutable std::shared_ptr<const std::vector<X11WindowInfo>> describedWindows_;
    mutable plinth::Rect describedPrimary_;
    mutable std::vector<WindowRecord> described_;
    // Modifier keys pressed by a key-down, to release with its key-up.
    std::uint64_t pressedModifiers_ = 0;
};

} // namespace orvane::linuxbackend
