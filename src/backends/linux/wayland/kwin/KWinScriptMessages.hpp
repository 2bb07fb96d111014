#pragma once

#include "backends/linux/wayland/CompositorLink.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::linuxbackend {

// One window as the KWin script describes it; `id` is KWin's internal id (a UUID).
struct KWinScriptWindow {
    std::string id;
    std::uint32_t pid = 0;
    std::string caption;
    std::string resourceClass;
    plinth::Rect frame;
    plinth::Rect buffer;
    int output = -1;
    double stacking = 0; // higher is nearer the front
    bool keepAbove = false;
    bool minimized = false;
    std::vector<std::string> flags; // the window-type properties that were true
};

// The script's first word: the bridge version it speaks and the scripting API it found.
struct KWinScriptHello {
    unsigned version = 0;
    int api = 0; // 5: Plasma 5.27's, 6: Plasma 6's
};

// The script's answer to a command: KWin's active window (empty: none) and the cursor then.
struct KWinScriptDone {
    std::uint64_t serial = 0;
    std::string active;
    int x = 0;
    int y = 0;
};

// What the script sends is another process's word: these check every value and give nullopt
// (or drop the one bad entry of a list) instead of trusting it. A message past the bounds
// below is dropped whole before it is kept; `problem`, when given, then says why.
namespace KWinScriptMessages {

// Far more windows than a desktop has; the script's list is every window KWin manages.
inline constexpr std::size_t maximumWindows = 2048;
inline constexpr std::size_t windowsMessageBytes = 4u << 20;
// Every message but the window list.
inline constexpr std::size_t messageBytes = 64u << 10;
// KWin's window ids are UUIDs ("{8c1d…}", 38 bytes).
inline constexpr std::size_t idBytes = 64;
// What is kept of a caption and of a window class (the script clips them before this too).
inline constexpr std::size_t captionBytes = 4096;
inline constexpr std::size_t classBytes = 256;

std::optional<KWinScriptHello> parseHello(std::string_view json, std::string* problem = nullptr);
std::optional<KWinScriptDone> parseDone(std::string_view json, std::string* problem = nullptr);
// The cursor's stage position.
std::optional<plinth::Point> parseCursor(std::string_view json, std::string* problem = nullptr);

// The outputs, in KWin's order (the first is the primary); unnamed ones (Plasma 5.27 gives no
// names to scripts) are called "Display N".
std::optional<std::vector<CompositorMonitor>> parseOutputs(std::string_view json,
                                                           std::string* problem = nullptr);

// The windows front to back; entries without an id or a usable frame are left out, and so
// are windows already closed.
std::optional<std::vector<KWinScriptWindow>> parseWindows(std::string_view json,
                                                          std::string* problem = nullptr);

// The window id of an Active message ("" for none); nullopt for one no window of KWin's has.
std::optional<std::string> parseActive(std::string_view text);

// The window type the shared services know ("normal", "dialog", "popup_menu", "dock"...) for
// KWin's window-type properties.
std::string windowType(const std::vector<std::string>& flags);

// "5.27.5" from KWin's support information; empty when it does not say.
std::string versionFromSupportInformation(std::string_view text);

// The reply to the script's standing NextCommand call.
std::string activateCommand(std::uint64_t serial, const std::string& windowId);
std::string cursorCommand(std::uint64_t serial);
std::string watchCommand(std::uint64_t serial, unsigned milliseconds);
std::string noCommand();

} // namespace KWinScriptMessages

// Orvane's 64-bit numbers for KWin's window UUIDs: stable while the window lives and never
// given twice, so that the low 32 bits the components see stay unique among live windows.
class KWinWindowIds {
public:
    std::uint64_t idFor(const std::string& uuid);
    std::optional<std::string> uuidOf(std::uint64_t id) const;
    // Forgets the windows not in `live` (their numbers are not given again).
    void keepOnly(const std::vector<std::string>& live);
    void clear() { byUuid_.clear(); }

private:
    std::map<std::string, std::uint64_t> byUuid_;
    std::uint64_t next_ = 1;
};

} // namespace orvane::linuxbackend
