#include "backends/linux/wayland/sway/SwayDesktop.hpp"

#include "backends/linux/wayland/LinkBridge.hpp"
#include "backends/linux/wayland/client/CompositorDesktop.hpp"
#include "backends/linux/wayland/sway/SwayHotKeys.hpp"
#include "backends/linux/wayland/sway/SwayLink.hpp"

#include <cstdlib>

namespace orvane::linuxbackend {

bool installSwayDesktop(Platform& platform, std::string* error) {
    const bool findable = std::getenv("SWAYSOCK") || std::getenv("XDG_RUNTIME_DIR");
    return installCompositorDesktop(
        platform, error, findable ? "" : "SWAYSOCK is not set: sway's IPC socket cannot be found",
        [](const CompositorDesktop::Options& options) {
            auto link = std::make_shared<SwayLink>(options.mainQueue, options.environment);
            return CompositorDesktop::open(
                {link, std::make_shared<SwayHotKeys>(link),
                 std::make_shared<LinkBridge>(
                     link, LinkBridge::Words{"sway", "the IPC socket of sway", "SWAYSOCK"}),
                 // sway's IPC tells nothing of input: the idle timer tells that there was some.
                 false, nullptr,
                 "sway's IPC socket is sway's own and open to every program of yours; Orvane "
                 "adds the pause chord's key binding while it runs, and nothing else",
                 nullptr},
                options);
        },
        // sway answers in milliseconds.
        std::chrono::seconds(3));
}

} // namespace orvane::linuxbackend
