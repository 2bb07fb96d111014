#pragma once

#include "backends/linux/wayland/CompositorLink.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

typedef struct sd_bus_message sd_bus_message;

namespace orvane::linuxbackend::BridgeReplies {

// What is kept of the bridge's lists: far above any real desktop, bounded against one that
// is not.
constexpr std::size_t maxMonitors = 64;
constexpr std::size_t maxWindows = 1024;
constexpr std::size_t maxTextLength = 1024;
constexpr std::size_t maxWordLength = 64; // window types, shell modal, versions

// The lists and the state as they are read; each a whole argument.
constexpr std::string_view monitorsSignature = "a(iiiissb)";
constexpr std::string_view windowsSignature = "a(tusss(iiii)(iiii)ibb)";
constexpr std::string_view stateSignature = "a{sv}";

// At most `limit` bytes of `text`, never cut inside a UTF-8 sequence; empty for null.
std::string bounded(const char* text, std::size_t limit);

// The properties of GetState and StateChanged that Orvane reads, each bounded.
struct FocusWindow {
    std::uint64_t id = 0;
};
struct OverviewActive {
    bool active = false;
};
struct ShellModal {
    std::string what; // at most maxWordLength
};
struct ShellVersion {
    std::string version; // at most maxWordLength
};
using BridgeProperty = std::variant<FocusWindow, OverviewActive, ShellModal, ShellVersion>;

// The known properties in the order sent, up to the first malformed entry; `whole` when there
// was none. Entries of other names are passed over.
struct BridgeState {
    std::vector<BridgeProperty> properties;
    bool whole = false;
};

// GetMonitors' answer; nothing when it is malformed or lists more than maxMonitors.
std::optional<std::vector<CompositorMonitor>> readMonitors(sd_bus_message* m);
// GetWindows' answer, front-most first, the first maxWindows kept; nothing when malformed.
std::optional<std::vector<CompositorWindow>> readWindows(sd_bus_message* m);
// GetState's answer or StateChanged's argument; nothing when it is no a{sv}.
std::optional<BridgeState> readState(sd_bus_message* m);
// The first FocusWindow of the state.
std::optional<std::uint64_t> focusOf(const BridgeState& state);
// FocusWindow of a GetState answer.
std::optional<std::uint64_t> readFocus(sd_bus_message* m);

// What GNOME Shell's GetExtensionInfo says of one extension: `listed` false when the shell
// does not know it. The state is the shell's number (1 enabled, 2 disabled, 3 error, 4 out of
// date, 6 initialized, 99 uninstalled); the error is bounded to maxTextLength.
struct ShellExtensionInfo {
    bool listed = false;
    double state = 0;
    std::string error;
};
std::optional<ShellExtensionInfo> readExtensionInfo(sd_bus_message* m);

} // namespace orvane::linuxbackend::BridgeReplies
