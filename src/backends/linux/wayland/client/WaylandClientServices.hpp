#pragma once

#include "orvane/platform/Platform.hpp"

#include <memory>

namespace orvane::linuxbackend {

class ActivityInputMonitor;
class CompositorLink;
class LayerShellGazeDot;
class PostedKeys;
class WaylandActivity;
class WaylandClient;

// What Orvane's own Wayland connection gives the desktops whose compositor hands a client no
// other program's input (KWin, sway): input activity from the compositor's idle timer for the
// guards, and the gaze dot as a layer surface above every window.
struct WaylandClientServices {
    std::shared_ptr<WaylandClient> client;
    std::shared_ptr<WaylandActivity> activity;
    std::shared_ptr<ActivityInputMonitor> inputMonitor;
    std::shared_ptr<LayerShellGazeDot> gazeDot;

    // `link` gives the focused window, and the pointer where `pointerFromLink`; activity just
    // after input of ours (`posted`, may be null) is not the user's. The queue and clock null:
    // the installed platform's. `client` null: a connection of their own.
    static WaylandClientServices open(const std::shared_ptr<CompositorLink>& link,
                                      std::shared_ptr<const PostedKeys> posted,
                                      std::shared_ptr<MainQueue> mainQueue,
                                      std::shared_ptr<Clock> clock, bool pointerFromLink,
                                      std::shared_ptr<WaylandClient> client = nullptr);

    // Sets the input monitor and the gaze dot in `platform`.
    void fill(Platform& platform) const;
};

} // namespace orvane::linuxbackend
