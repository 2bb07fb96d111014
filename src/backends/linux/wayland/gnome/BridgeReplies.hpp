#pragma once

#include "backends/linux/wayland/CompositorLink.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

typedef struct sd_bus_message sd_bus_message;

namespace orvane::linuxbackend::BridgeReplies {

// What is kept of the bridge's lists: far above any real desktop, bounded against one that
// is not.
constexpr std::size_t maxMonitors = 64;
constexpr std::size_t maxWindows = 1024;
constexpr std::size_t maxTextLength = 1024;
constexpr std::size_t maxWordLength = 64; // window types, shell modal, versions

// At most `limit` bytes of `text`, never cut inside a UTF-8 sequence; empty for null.
std::string bounded(const char* text, std::size_t limit);

// GetMonitors' answer; nothing when it is malformed or lists more than maxMonitors.
std::optional<std::vector<CompositorMonitor>> readMonitors(sd_bus_message* m);
// GetWindows' answer, front-most first, the first maxWindows kept; nothing when malformed.
std::optional<std::vector<CompositorWindow>> readWindows(sd_bus_message* m);
// FocusWindow of a GetState answer.
std::optional<std::uint64_t> readFocus(sd_bus_message* m);

} // namespace orvane::linuxbackend::BridgeReplies
