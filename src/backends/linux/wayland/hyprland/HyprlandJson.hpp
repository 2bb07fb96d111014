#pragma once

#include "backends/linux/wayland/CompositorLink.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What Hyprland's JSON replies and its event lines say, in the compositor link's terms. Each
// reader takes the text as Hyprland sent it and gives nullopt for text that is not what
// Hyprland sends, or is past the bounds below, before any of it is kept; `problem`, where
// given, then says why. Numbers are clamped to what a desktop can have. None of them throws.
namespace orvane::linuxbackend::HyprlandJson {

// Far more than a desktop has.
inline constexpr std::size_t maximumWindows = 2048;
inline constexpr std::size_t maximumMonitors = 64;
inline constexpr std::size_t titleBytes = 4096;
inline constexpr std::size_t classBytes = 256;
// Stage coordinates and sizes past this are clamped to it.
inline constexpr double maximumCoordinate = 1 << 20;

struct Monitor {
    CompositorMonitor monitor;
    std::int64_t id = -1;
    // The workspaces it shows: its own and the special one over it (0: none).
    std::int64_t activeWorkspace = 0;
    std::int64_t specialWorkspace = 0;
    bool focused = false;
};

// monitors: the enabled ones in logical stage coordinates (the mode's pixels over the scale,
// turned with the transform), the one at the stage's origin first and primary, else the first.
std::optional<std::vector<Monitor>> monitors(const std::string& reply,
                                             std::string* problem = nullptr);

// clients: the mapped windows front to back (by focus history: the most recent first, then
// those never focused), their monitor an index into `monitors`; those on no workspace shown,
// or hidden in a group, minimised.
std::optional<std::vector<CompositorWindow>> windows(const std::string& reply,
                                                     const std::vector<Monitor>& monitors,
                                                     std::string* problem = nullptr);

// activewindow: the focused window's address, 0 when none ("{}").
std::optional<std::uint64_t> activeWindow(const std::string& reply);

// cursorpos: the pointer in stage coordinates.
std::optional<plinth::Point> cursor(const std::string& reply);

// version: the release's tag without its "v" ("0.45.2"), else the commit.
std::optional<std::string> version(const std::string& reply);

// A window address, "0x55e0c6e75980" as in replies or "55e0c6e75980" as in events; nullopt
// for anything else, or 0.
std::optional<std::uint64_t> address(std::string_view text);

// The address as the dispatchers take it ("0x55e0c6e75980").
std::string addressText(std::uint64_t address);

// The requests that focus the window at `address`: in the dispatcher syntax of a Hyprland
// configured classically, and as the Lua expression one configured in Lua takes.
struct FocusRequests {
    std::string classic;
    std::string lua;
};
FocusRequests focusRequests(std::uint64_t address);

// A dispatch's answer: "ok", else Hyprland's words in `error`.
bool dispatched(const std::string& reply, std::string* error = nullptr);

struct Event {
    std::string name;
    std::string data;
};

// One event line, "EVENT>>DATA"; nullopt for a line that is not one.
std::optional<Event> event(std::string_view line);

// What an event makes worth reading again.
enum class Touches { nothing, windows, windowsAndMonitors };
Touches touches(const std::string& eventName);

// binds: the key chords ("SUPER+SHIFT+G") of the bindings whose argument runs `command`.
std::optional<std::vector<std::string>> chordsRunning(const std::string& reply,
                                                      std::string_view command);

} // namespace orvane::linuxbackend::HyprlandJson
