#pragma once

#include "orvane/platform/WindowServer.hpp"

#include <memory>
#include <vector>

namespace orvane::linuxbackend {

class CompositorLink;
class PostedKeys;
class DesktopEntries;
struct CompositorMonitor;
struct CompositorWindow;

// A compositor's window list, pointer and key posting through its link. Main thread.
class CompositorWindowServer : public WindowServer {
public:
    // Layers as the X11 backend gives them, so that the components read both alike.
    static constexpr std::int64_t floatingLayer = 3;
    static constexpr std::int64_t dockLayer = 20;
    static constexpr std::int64_t notificationLayer = 23;
    static constexpr std::int64_t statusLayer = 25;
    static constexpr std::int64_t popUpMenuLayer = 101;

    CompositorWindowServer(std::shared_ptr<CompositorLink> link,
                           std::shared_ptr<const DesktopEntries> entries,
                           std::shared_ptr<PostedKeys> posted);

    // Front to back; minimized windows, windows not yet placed and the desktop left out.
    std::optional<std::vector<WindowRecord>> onScreenWindows() const override;
    std::int64_t popUpMenuLevel() const override { return popUpMenuLayer; }
    // A menu of the compositor's own (GNOME's top bar) holds the keyboard.
    bool isMenuOpenInsideWindow() const override;
    plinth::Point pointerLocation() const override;
    void warpPointer(plinth::Point point) override;
    // Presses the modifiers `flags` names that are not held already, then the key; a key-up
    // releases the key and every modifier pressed for it. The compositor posts each as a key of a
    // virtual keyboard of its own.
    bool postKeyEvent(Key key, std::uint64_t flags, bool keyDown) override;

    // The layer of a window of this type; nullopt for windows that are not listed at all.
    static std::optional<std::int64_t> layerOf(const CompositorWindow& window);
    // The window number the components use: the low half of the compositor's 64-bit id (GNOME
    // counts ids up from 2^32, so the low half alone is unique).
    static std::uint32_t numberOf(std::uint64_t id) { return static_cast<std::uint32_t>(id); }

private:
    std::vector<WindowRecord> entriesOf(const std::vector<CompositorWindow>& windows,
                                        const plinth::Rect& primaryStage) const;
    bool postKey(std::uint32_t keyval, bool press);
    void releasePressedModifiers();

    std::shared_ptr<CompositorLink> link_;
    std::shared_ptr<const DesktopEntries> entries_;
    std::shared_ptr<PostedKeys> posted_;
    std::uint64_t pressedModifiers_ = 0;
    // The last list made, and the link's lists it was made from (kept, so never reused).
    mutable std::shared_ptr<const std::vector<CompositorWindow>> listWindows_;
    mutable std::shared_ptr<const std::vector<CompositorMonitor>> listMonitors_;
    mutable std::vector<WindowRecord> list_;
};

} // namespace orvane::linuxbackend
