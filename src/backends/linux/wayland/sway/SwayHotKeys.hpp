#pragma once

#include "orvane/platform/HotKeys.hpp"
#include "orvane/platform/Subscription.hpp"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace orvane::linuxbackend {

class SwayLink;

// System-wide chords as sway bindings made at run time over IPC: each binds its chord to a
// `nop` command that names it, and sway's binding event says when it was pressed. sway
// forgets such bindings when it restarts or reloads its config, so they are made again then.
// A chord the user's own config binds is theirs: it is refused, not taken over. Main thread.
class SwayHotKeys : public HotKeys {
public:
    explicit SwayHotKeys(std::shared_ptr<SwayLink> link);
    ~SwayHotKeys() override;

    std::optional<HotKeyToken> registerHotKey(Key key, std::uint64_t modifiers,
                                              std::function<void()> handler) override;
    void unregisterHotKey(HotKeyToken token) override;
    std::string describe(Key key, std::uint64_t modifiers) const override;
    std::string takenBy(Key key, std::uint64_t modifiers) const override;

    // The chord in sway's words ("Mod4+Shift+g"); nullopt for a key with no name.
    static std::optional<std::string> swayChord(Key key, std::uint64_t modifiers);
    // The command Orvane binds `chord` to.
    static std::string bindingCommand(const std::string& chord);
    // Whether `config` (sway's text, with `set $name value` variables) binds `chord` itself.
    static bool configBinds(const std::string& config, const std::string& chord);

private:
    struct Binding {
        std::string chord;
        bool bound = false;
        std::function<void()> handler;
    };

    bool bind(const std::string& chord, std::string* error);
    void handle(const struct CompositorEvent& event);

    std::shared_ptr<SwayLink> link_;
    std::map<HotKeyToken, Binding> bindings_;
    HotKeyToken nextToken_ = 1;
    Subscription events_;
};

} // namespace orvane::linuxbackend
