#pragma once

#include "orvane/platform/DesktopBridge.hpp"

#include <functional>
#include <memory>
#include <string>

namespace orvane::linuxbackend {

class CompositorLink;

// What stands between Orvane and a compositor reached through what it offers every program
// (its IPC socket, the wlroots protocols): nothing to install or switch on, only a compositor
// that answers. Ready when the link is.
class LinkBridge : public DesktopBridge {
public:
    struct Words {
        std::string desktop;    // "sway": the compositor's version is added when it says one
        std::string bridgeName; // "the IPC socket of sway"
        std::string bridgeId;   // "SWAYSOCK"
    };

    // `problem`, when given, says what keeps the link from being ready.
    LinkBridge(std::shared_ptr<CompositorLink> link, Words words,
               std::function<std::string()> problem = {});
    // Words asked each time, for a link whose way into the compositor is known only once it
    // answers.
    LinkBridge(std::shared_ptr<CompositorLink> link, std::function<Words()> words,
               std::function<std::string()> problem = {});

    DesktopBridgeState state() const override;
    bool enable() override { return false; }

private:
    std::shared_ptr<CompositorLink> link_;
    std::function<Words()> words_;
    std::function<std::string()> problem_;
};

} // namespace orvane::linuxbackend
