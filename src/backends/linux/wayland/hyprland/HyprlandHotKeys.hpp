#pragma once

#include "orvane/platform/HotKeys.hpp"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane::linuxbackend {

class HyprlandLink;

// Hyprland lets no other program bind a chord: the pause hot key is a key binding of the
// user's own that runs `orvane --toggle-pause`, which reaches the running Orvane over the
// session bus. Hyprland lists the bindings it loaded, so whether there is one is asked of it,
// whatever file of the config holds it.
class HyprlandHotKeys : public HotKeys {
public:
    static constexpr const char* toggleCommand = "orvane --toggle-pause";

    explicit HyprlandHotKeys(std::shared_ptr<HyprlandLink> link);

    // A token where the binding is there or Hyprland does not answer; nullopt where it
    // answered without one (the handler is never called: the binding runs the toggle).
    std::optional<HotKeyToken> registerHotKey(Key key, std::uint64_t modifiers,
                                              std::function<void()> handler) override;
    void unregisterHotKey(HotKeyToken token) override;
    std::string describe(Key key, std::uint64_t modifiers) const override;

    // The chords of the bindings that run the toggle; nullopt when Hyprland does not say.
    std::optional<std::vector<std::string>> toggleChords() const;

    // The config line that binds the toggle, for the words that ask for one.
    static constexpr const char* suggestedBinding =
        "bind = SUPER SHIFT, G, exec, orvane --toggle-pause";

private:
    std::shared_ptr<HyprlandLink> link_;
    std::map<HotKeyToken, std::function<void()>> handlers_;
    HotKeyToken nextToken_ = 1;
};

} // namespace orvane::linuxbackend
