#pragma once

#include "plinth/Geometry.hpp"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

// Where other programs' windows are reached only through a helper that runs inside the
// desktop itself (a compositor extension or script), what Orvane knows of that helper.
// (Not "Status": Xlib defines that as a macro.)
enum class DesktopBridgeStatus {
    ready,        // answering, of the version Orvane speaks
    notInstalled, // the desktop does not know the helper at all
    disabled,     // installed but switched off
    needsLogOut,  // installed after the desktop started: it loads only at the next log-in
    otherVersion, // answering in a version Orvane does not speak
    failed,       // the desktop reports an error in it
    unreachable,  // the desktop itself does not answer
};

struct DesktopBridgeState {
    DesktopBridgeStatus status = DesktopBridgeStatus::unreachable;
    // The session kind and desktop as people name them ("Wayland", "GNOME Shell 43.9").
    std::string sessionKind;
    std::string desktop;
    // The helper as people name it ("the Orvane extension of GNOME Shell") and its version.
    std::string bridgeName;
    std::optional<unsigned> bridgeVersion;
    // The desktop's own words when it reports an error.
    std::string detail;
    // What the desktop knows the helper by ("bridge-modules@orvane.net"), where it tells.
    std::string bridgeId;
};

class DesktopBridge {
public:
    virtual ~DesktopBridge() = default;

    // Asked afresh each time (bounded: a desktop that does not answer is `unreachable`).
    virtual DesktopBridgeState state() const = 0;

    // Asks the desktop to switch the helper on. False when it refused or is not reachable.
    virtual bool enable() = 0;
};

// The gaze dot, drawn by the desktop itself above every window, where a window of Orvane's
// own cannot be placed or kept above the others.
class GazeDotSurface {
public:
    virtual ~GazeDotSurface() = default;
    // Centres the dot on `center` (global top-left space).
    virtual void show(plinth::Point center, int diameter) = 0;
    virtual void hide() = 0;
};

// One entry of a status menu; an entry with an empty id is a separator.
struct IndicatorItem {
    std::string id;
    std::string label;
    bool enabled = true;
    std::optional<bool> checked; // nullopt: not a check item
};

// A status icon with a menu that the desktop draws itself, for desktops without a tray host.
// The menu's contents and meaning stay Orvane's: the desktop only shows them.
class StatusIndicator {
public:
    virtual ~StatusIndicator() = default;
    // Shows (or replaces) the icon (a file path), its tooltip and its menu. False when the
    // desktop could not show it.
    virtual bool show(const std::string& iconPath, const std::string& tooltip,
                      const std::vector<IndicatorItem>& items) = 0;
    virtual void remove() = 0;
    // Main thread: an item was chosen; the menu is about to open.
    std::function<void(const std::string& id)> onActivated;
    std::function<void()> onOpening;
};

} // namespace orvane
