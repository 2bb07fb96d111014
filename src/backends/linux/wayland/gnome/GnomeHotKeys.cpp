#include "backends/linux/wayland/gnome/GnomeHotKeys.hpp"

#include "backends/linux/wayland/CompositorKeys.hpp"
#include "backends/linux/wayland/gnome/BridgeConnection.hpp"
#include "backends/posix/ChordText.hpp"
#include "orvane/platform/Platform.hpp"

namespace orvane::linuxbackend {

GnomeHotKeys::GnomeHotKeys(std::shared_ptr<BridgeConnection> bridge) : bridge_(std::move(bridge)) {
    events_ = bridge_->listen([this](const CompositorEvent& event) { handle(event); });
}

GnomeHotKeys::~GnomeHotKeys() {
    events_.reset();
    while (!grabs_.empty()) {
        unregisterHotKey(grabs_.begin()->first);
    }
}

std::uint32_t GnomeHotKeys::grab(const std::string& accelerator) {
    return bridge_->grabAccelerator(accelerator).value_or(0);
}

void GnomeHotKeys::handle(const CompositorEvent& event) {
    if (event.kind == CompositorEvent::Kind::ready) {
        // A chord registered while this event was on its way is held already, and the shell
        // refuses a second grab of it: asking again would lose the first.
        for (auto& [token, grab] : grabs_) {
            if (grab.action == 0) {
                grab.action = this->grab(grab.accelerator);
            }
        }
    } else if (event.kind == CompositorEvent::Kind::vanished) {
        for (auto& [token, grab] : grabs_) {
            grab.action = 0;
        }
    } else if (event.kind == CompositorEvent::Kind::acceleratorActivated && event.action != 0) {
        for (const auto& [token, grab] : grabs_) {
            if (grab.action == event.action) {
                auto handler = grab.handler; // it may unregister itself
                handler();
                return;
            }
        }
    }
}

std::optional<HotKeyToken> GnomeHotKeys::registerHotKey(Key key, std::uint64_t modifiers,
                                                        std::function<void()> handler) {
    const auto accelerator = CompositorKeys::accelerator(key, modifiers);
    if (!handler || !accelerator) {
        logPlatformError("hot key " + describe(key, modifiers) + ": no such key");
        return std::nullopt;
    }
    for (const auto& [token, grab] : grabs_) {
        if (grab.accelerator == *accelerator) {
            logPlatformError("hot key " + describe(key, modifiers) + " is registered already");
            return std::nullopt;
        }
    }
    // Before the bridge is there, the chord is grabbed once it comes.
    const bool ready = bridge_->snapshot().ready;
    const std::uint32_t action = ready ? grab(*accelerator) : 0;
    if (ready && action == 0) {
        logPlatformError("hot key " + describe(key, modifiers) +
                         ": GNOME Shell did not grant it (taken, or the shell's bridge is not "
                         "there)");
        return std::nullopt;
    }
    const HotKeyToken token = nextToken_++;
    grabs_.emplace(token, Grab{*accelerator, action, std::move(handler)});
    return token;
}

void GnomeHotKeys::unregisterHotKey(HotKeyToken token) {
    const auto found = grabs_.find(token);
    if (found == grabs_.end()) {
        return;
    }
    if (found->second.action != 0) {
        bridge_->ungrabAccelerator(found->second.action);
    }
    grabs_.erase(found);
}

std::string GnomeHotKeys::describe(Key key, std::uint64_t modifiers) const {
    return posix::chordText(key, modifiers);
}

} // namespace orvane::linuxbackend
