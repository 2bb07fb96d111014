#include "backends/linux/wayland/client/CompositorDesktop.hpp"

#include "backends/linux/wayland/CompositorLink.hpp"
#include "backends/linux/wayland/CompositorSecureInput.hpp"
#include "backends/linux/wayland/client/ActivityInputMonitor.hpp"
#include "backends/linux/wayland/client/WaylandClient.hpp"

#if ORVANE_WITH_EVDEV
#include "backends/linux/evdev/EvdevInputOption.hpp"
#endif

#include <cstdlib>

namespace orvane::linuxbackend {

std::shared_ptr<CompositorDesktop> CompositorDesktop::open(Family family, const Options& options) {
    std::shared_ptr<CompositorDesktop> desktop(new CompositorDesktop());
    desktop->services_ = CompositorServices::open(family.link, options.mainQueue, nullptr);
    desktop->secureInput_ =
        std::make_shared<CompositorSecureInput>(family.link, desktop->services_.focusWatch);
    desktop->client_ =
        WaylandClientServices::open(family.link, desktop->services_.posted, options.mainQueue,
                                    options.clock, family.pointerFromLink, family.client);
    if (family.limit) {
        desktop->client_.inputMonitor->addLimit(family.limit);
    }
    desktop->family_ = std::move(family);
    return desktop;
}

void CompositorDesktop::fill(Platform& platform) const {
    services_.fill(platform);
    client_.fill(platform);
    platform.secureInput = secureInput_;
    platform.hotKeys = family_.hotKeys;
    platform.desktopBridge = family_.bridge;
    platform.exposure.push_back(family_.exposure);
}

void CompositorDesktop::waitUntilSettled(std::chrono::milliseconds timeout) const {
    family_.link->waitUntilSettled(timeout);
    client_.client->waitUntilSettled(timeout);
}

bool installCompositorDesktop(
    Platform& platform, std::string* error, const std::string& unreachable,
    const std::function<std::shared_ptr<CompositorDesktop>(const CompositorDesktop::Options&)>&
        open,
    std::chrono::milliseconds settle) {
    if (!unreachable.empty()) {
        if (error) {
            *error = unreachable;
        }
#if ORVANE_WITH_EVDEV
        offerInputDevices(platform, nullptr);
#endif
        return false;
    }
    const auto desktop = open(
        {platform.mainQueue, [](const char* name) { return std::getenv(name); }, platform.clock});
    desktop->waitUntilSettled(settle);
    desktop->fill(platform);
#if ORVANE_WITH_EVDEV
    offerInputDevices(platform, keysGoToOwnWindow(desktop->link()));
#endif
    return true;
}

} // namespace orvane::linuxbackend
