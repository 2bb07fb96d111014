#include "backends/linux/wayland/client/WaylandClientServices.hpp"

#include "backends/linux/wayland/PostedKeys.hpp"
#include "backends/linux/wayland/client/ActivityInputMonitor.hpp"
#include "backends/linux/wayland/client/LayerShellGazeDot.hpp"
#include "backends/linux/wayland/client/WaylandActivity.hpp"
#include "backends/linux/wayland/client/WaylandClient.hpp"

namespace orvane::linuxbackend {

WaylandClientServices WaylandClientServices::open(const std::shared_ptr<CompositorLink>& link,
                                                  std::shared_ptr<const PostedKeys> posted,
                                                  std::shared_ptr<MainQueue> mainQueue,
                                                  std::shared_ptr<Clock> clock,
                                                  bool pointerFromLink,
                                                  std::shared_ptr<WaylandClient> client) {
    if (!mainQueue && hasPlatform()) {
        mainQueue = platform().mainQueue;
    }
    if (!clock && hasPlatform()) {
        clock = platform().clock;
    }
    WaylandClientServices services;
    services.client = client ? std::move(client) : std::make_shared<WaylandClient>(mainQueue);
    services.activity = std::make_shared<WaylandActivity>(
        services.client, WaylandActivity::defaultTimeoutMilliseconds, mainQueue);
    std::function<bool()> ours;
    if (posted) {
        ours = [posted] {
            return posted->isRecentInput();
        };
    }
    services.inputMonitor = std::make_shared<ActivityInputMonitor>(
        services.activity, link, std::move(ours), std::move(mainQueue), std::move(clock),
        pointerFromLink);
    services.gazeDot = std::make_shared<LayerShellGazeDot>(services.client);
    return services;
}

void WaylandClientServices::fill(Platform& platform) const {
    platform.inputMonitor = inputMonitor;
    platform.gazeDot = gazeDot;
}

} // namespace orvane::linuxbackend
