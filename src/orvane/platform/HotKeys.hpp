#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace orvane {

using HotKeyToken = std::uint64_t;

// System-wide hot keys, delivered even while another application is frontmost.
class HotKeys {
public:
    virtual ~HotKeys() = default;

    // Registers `keyCode` with exactly `modifiers` (system masks). `handler` runs on the main
    // thread at each press. nullopt when the chord is taken or cannot be registered.
    virtual std::optional<HotKeyToken> registerHotKey(std::uint16_t keyCode,
                                                      std::uint64_t modifiers,
                                                      std::function<void()> handler) = 0;

    virtual void unregisterHotKey(HotKeyToken token) = 0;

    // How the platform writes a chord for people ("⇧⌘G", "Shift+Super+G").
    virtual std::string describe(std::uint16_t keyCode, std::uint64_t modifiers) const = 0;
};

} // namespace orvane
