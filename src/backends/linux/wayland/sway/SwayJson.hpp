#pragma once

#include "backends/linux/wayland/CompositorLink.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What sway's IPC replies and events say, read into the compositor link's terms. Each reader
// takes the payload as sway sent it and gives nullopt for text that is not what sway sends,
// or that is past the bounds below (size, values, nesting, count), before any of it is kept;
// `problem`, where given, then says why. None of them throws.
namespace orvane::linuxbackend::SwayJson {

// Far more than a desktop has.
inline constexpr std::size_t maximumWindows = 2048;
inline constexpr std::size_t maximumOutputs = 64;
// What is kept of a title and of an app id.
inline constexpr std::size_t titleBytes = 4096;
inline constexpr std::size_t appIdBytes = 256;
// A binding's command, of which Orvane only looks for its own.
inline constexpr std::size_t commandBytes = 4096;

// get_outputs: the active outputs, the primary first (sway has none: the one at the stage's
// origin, else the first listed). Connector: the output's name ("HEADLESS-1", "DP-2").
std::optional<std::vector<CompositorMonitor>> monitors(const std::string& outputs,
                                                       std::string* problem = nullptr);

struct Windows {
    std::vector<CompositorWindow> windows; // front to back
    std::uint64_t focus = 0;               // 0: no window has the focus (an empty workspace)
};

// get_tree, against `monitors` (by connector): every view, the scratchpad's and those on
// workspaces or tabs not shown as minimised.
std::optional<Windows> windows(const std::string& tree,
                               const std::vector<CompositorMonitor>& monitors,
                               std::string* problem = nullptr);

// get_version: "1.10.1".
std::optional<std::string> version(const std::string& reply);

// get_seats: the first seat's name ("seat0").
std::optional<std::string> seatName(const std::string& seats);

// run_command: whether every command of the reply succeeded; with the first error text.
bool commandSucceeded(const std::string& reply, std::string* error = nullptr);

// A binding event's command ("nop orvane-hot-key Mod4+Shift+g"); nullopt for others.
std::optional<std::string> bindingCommand(const std::string& event);

// A workspace event's change ("focus", "reload"...).
std::optional<std::string> change(const std::string& event);

// get_config: the text of the config sway loaded, its included files' after it.
std::optional<std::string> configText(const std::string& reply);

} // namespace orvane::linuxbackend::SwayJson
