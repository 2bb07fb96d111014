#include "backends/linux/wayland/wlroots/WlrootsDesktop.hpp"

#include "backends/linux/wayland/LinkBridge.hpp"
#include "backends/linux/wayland/client/CompositorDesktop.hpp"
#include "backends/linux/wayland/client/WaylandClient.hpp"
#include "backends/linux/wayland/wlroots/WlrootsHotKeys.hpp"
#include "backends/linux/wayland/wlroots/WlrootsLink.hpp"

#include <cstdlib>

namespace orvane::linuxbackend {
namespace {

std::shared_ptr<CompositorDesktop> openWlrootsDesktop(CompositorDesktop::Options options) {
    // The connection's worker needs a queue for its events from the start.
    if (!options.mainQueue && hasPlatform()) {
        options.mainQueue = platform().mainQueue;
    }
    // One connection for the windows, the idle timer and the dot.
    auto client = std::make_shared<WaylandClient>(options.mainQueue);
    auto link = std::make_shared<WlrootsLink>(client, options.mainQueue);
    std::string name;
    if (const char* desktops = options.environment("XDG_CURRENT_DESKTOP")) {
        name = std::string(desktops).substr(0, std::string(desktops).find(':')).substr(0, 64);
    }
    const std::string desktop = name.empty() ? "a wlroots compositor" : name;
    return CompositorDesktop::open(
        {link, std::make_shared<WlrootsHotKeys>(options.environment),
         std::make_shared<LinkBridge>(
             link, [link, desktop] { return wlrootsBridgeWords(*link, desktop); },
             [link] { return link->problem(); }),
         // Nothing of input but the idle timer, nor of the pointer.
         false, client,
         "the compositor's list of windows is open to every program of yours; Orvane adds "
         "nothing to the compositor, and its pause toggle (orvane --toggle-pause) is a method "
         "of its own on your session bus",
         [link] {
             return wlrootsLimit(*link);
         }},
        options);
}

} // namespace

LinkBridge::Words wlrootsBridgeWords(const WlrootsLink& link, const std::string& desktop) {
    if (link.listsOnly()) {
        return {desktop,
                "the compositor's list of windows alone (ext-foreign-toplevel-list protocol: "
                "Orvane can see windows, not focus them)",
                WlrootsLink::listInterface};
    }
    return {desktop, "the compositor's list of windows (wlroots foreign-toplevel protocol)",
            WlrootsLink::managerInterface};
}

std::string wlrootsLimit(const WlrootsLink& link) {
    if (link.listsOnly()) {
        return std::string("This compositor lists windows but does not let Orvane move focus: it "
                           "offers no ") +
               WlrootsLink::managerInterface + ", so Orvane focuses no window here.";
    }
    return "Windows are known only by the output they are on: the window Orvane focuses on an "
           "output is the one last focused there, and panes are not followed.";
}

bool installWlrootsDesktop(Platform& platform, std::string* error) {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const bool reachable = (display && *display) || std::getenv("XDG_RUNTIME_DIR");
    return installCompositorDesktop(
        platform, error,
        reachable ? "" : "WAYLAND_DISPLAY is not set: the compositor cannot be reached",
        openWlrootsDesktop, std::chrono::seconds(3));
}

} // namespace orvane::linuxbackend
