#pragma once

#include "orvane/platform/Keys.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace orvane {

// Event type numbers of the system; a monitor's mask has bit n set for event type n.
namespace InputEventType {
inline constexpr int leftMouseDown = 1;
inline constexpr int rightMouseDown = 3;
inline constexpr int mouseMoved = 5;
inline constexpr int leftMouseDragged = 6;
inline constexpr int rightMouseDragged = 7;
inline constexpr int keyDown = 10;
inline constexpr int flagsChanged = 12;
inline constexpr int scrollWheel = 22;
} // namespace InputEventType

constexpr std::uint64_t eventMask(int type) {
    return std::uint64_t{1} << type;
}

// A copy of one input event that went to any application.
struct InputEvent {
    int type = 0;
    // Modifier state in the system's masks (`ModifierFlag`); the full state, including bits
    // the system does not name.
    std::uint64_t modifierFlags = 0;
    // For key events: which key, by its place on the keyboard.
    Key key = Key::unknown;
};

using MonitorToken = std::uint64_t;

// Global monitors of the user's input to every application.
class InputMonitor {
public:
    virtual ~InputMonitor() = default;

    // Installs a monitor for the event types in `mask`. `handler` may be called on any
    // thread; it must only copy what it needs and hop to the main queue. nullopt when the
    // monitor could not be installed.
    virtual std::optional<MonitorToken>
    addGlobalMonitor(std::uint64_t mask, std::function<void(const InputEvent&)> handler) = 0;

    // Removes a monitor; no handler call for it starts after this returns. Unknown tokens are
    // ignored.
    virtual void removeMonitor(MonitorToken token) = 0;

    // One sentence on what this desktop keeps from the monitors (keys told from pointer use,
    // clicks, chords), so the guards built on them are fewer; empty when nothing is missing.
    virtual std::string reducedGuards() const { return {}; }
};

} // namespace orvane
