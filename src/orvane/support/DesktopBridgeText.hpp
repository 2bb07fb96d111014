#pragma once

#include "orvane/platform/DesktopBridge.hpp"

#include <string>

namespace orvane::DesktopBridgeText {

// One sentence on the desktop-side helper: that it works, or what keeps it from working and
// what the user does about it.
std::string describe(const DesktopBridgeState& state);

// True where switching the helper on from Orvane can help.
bool canEnable(const DesktopBridgeState& state);

// The word `--diagnose` prints for the status ("ready", "DISABLED"...).
std::string word(DesktopBridgeStatus status);

} // namespace orvane::DesktopBridgeText
