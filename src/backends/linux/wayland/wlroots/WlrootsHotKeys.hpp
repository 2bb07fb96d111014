#pragma once

#include "backends/linux/SessionChoice.hpp"
#include "orvane/platform/HotKeys.hpp"

#include <map>
#include <optional>
#include <string>

namespace orvane::linuxbackend {

// On compositors without an IPC, a program cannot bind a chord: the pause hot key is a key
// binding of the user's own that runs `orvane --toggle-pause`, which reaches the running
// Orvane over the session bus. This only tells whether the compositor's config has one (labwc's
// rc.xml, Wayfire's wayfire.ini), read when asked.
class WlrootsHotKeys : public HotKeys {
public:
    static constexpr const char* toggleCommand = "orvane --toggle-pause";
    // Larger configs are read no further.
    static constexpr std::size_t maxConfigBytes = 1 << 20;

    explicit WlrootsHotKeys(EnvironmentLookup environment);

    // A token where the binding is there or cannot be checked; nullopt where the config was
    // read and has none (the handler is never called: the binding runs the toggle).
    std::optional<HotKeyToken> registerHotKey(Key key, std::uint64_t modifiers,
                                              std::function<void()> handler) override;
    void unregisterHotKey(HotKeyToken token) override;
    std::string describe(Key key, std::uint64_t modifiers) const override;

    // The config file the desktop's bindings are in, empty where Orvane does not know it.
    std::string configFile() const;
    // Whether that file binds the toggle; nullopt where it cannot be told.
    std::optional<bool> bound() const;
    // Whether config text runs the toggle from a binding (not in a comment).
    static bool bindsToggle(const std::string& config, bool iniComments);

private:
    EnvironmentLookup environment_;
    std::map<HotKeyToken, std::function<void()>> handlers_;
    HotKeyToken nextToken_ = 1;
};

} // namespace orvane::linuxbackend
