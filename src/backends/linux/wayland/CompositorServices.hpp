#pragma once

#include "orvane/platform/Platform.hpp"

#include <functional>
#include <memory>

namespace orvane::linuxbackend {

class AtspiAccessibility;
class AtspiFocusWatch;
class CompositorDisplays;
class CompositorLink;
class CompositorWindowServer;
class CompositorWorkspace;
class PostedKeys;

// The services every Wayland desktop builds alike on its compositor's link: displays, the
// window list, activation, and accessibility placed by the compositor's window frames.
struct CompositorServices {
    std::shared_ptr<PostedKeys> posted;
    std::shared_ptr<CompositorDisplays> displays;
    std::shared_ptr<CompositorWindowServer> windowServer;
    std::shared_ptr<CompositorWorkspace> workspace;
    std::shared_ptr<AtspiAccessibility> accessibility;
    std::shared_ptr<AtspiFocusWatch> focusWatch;

    // `mainQueue` null: the installed platform's at each event; `focusWatch` null: one over
    // the desktop's own accessibility service.
    static CompositorServices open(const std::shared_ptr<CompositorLink>& link,
                                   std::shared_ptr<MainQueue> mainQueue,
                                   std::shared_ptr<AtspiFocusWatch> focusWatch);

    // Sets these services and the desktop conventions in `platform`.
    void fill(Platform& platform) const;
};

// Whether the window the compositor has focused is one of this process's, from the link's
// snapshot (cheap, any thread): keys typed into our own windows are no other program's input.
std::function<bool()> keysGoToOwnWindow(std::weak_ptr<const CompositorLink> link);

} // namespace orvane::linuxbackend
