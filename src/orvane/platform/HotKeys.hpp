#pragma once

#include "orvane/platform/WindowServer.hpp"

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

    // Registers `key` with exactly `modifiers` (system masks). `handler` runs on the main
    // thread at each press. nullopt when the chord is taken or cannot be registered.
    virtual std::optional<HotKeyToken> registerHotKey(Key key, std::uint64_t modifiers,
                                                      std::function<void()> handler) = 0;

    virtual void unregisterHotKey(HotKeyToken token) = 0;

    // How the platform writes a chord for people ("⇧⌘G", "Shift+Super+G").
    virtual std::string describe(Key key, std::uint64_t modifiers) const = 0;

    // Who has the chord already, as people name it, where the desktop tells (for
    // --diagnose); empty when nobody does or the desktop cannot say.
    virtual std::string takenBy(Key, std::uint64_t) const { return {}; }
};

// The chord that pauses and resumes Orvane from anywhere: Shift+Command+G (Shift+Super+G).
namespace PauseHotKey {
inline constexpr Key key = Key::g;
inline constexpr std::uint64_t modifiers = ModifierFlag::shift | ModifierFlag::command;
} // namespace PauseHotKey

} // namespace orvane
