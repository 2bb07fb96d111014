#pragma once

#include "orvane/platform/HotKeys.hpp"
#include "orvane/platform/Subscription.hpp"

#include <map>
#include <memory>
#include <string>

namespace orvane::linuxbackend {

class BridgeConnection;

// System-wide chords as the shell's accelerators: the shell grabs them and names the action
// when one is pressed. The shell forgets its grabs when it restarts, so they are asked for
// again when the bridge comes back. Main thread.
class GnomeHotKeys : public HotKeys {
public:
    explicit GnomeHotKeys(std::shared_ptr<BridgeConnection> bridge);
    ~GnomeHotKeys() override;

    std::optional<HotKeyToken> registerHotKey(Key key, std::uint64_t modifiers,
                                              std::function<void()> handler) override;
    void unregisterHotKey(HotKeyToken token) override;
    std::string describe(Key key, std::uint64_t modifiers) const override;

private:
    struct Grab {
        std::string accelerator;
        std::uint32_t action = 0; // 0: not grabbed now
        std::function<void()> handler;
    };

    std::uint32_t grab(const std::string& accelerator);
    void handle(const struct CompositorEvent& event);

    std::shared_ptr<BridgeConnection> bridge_;
    std::map<HotKeyToken, Grab> grabs_;
    HotKeyToken nextToken_ = 1;
    Subscription events_;
};

} // namespace orvane::linuxbackend
