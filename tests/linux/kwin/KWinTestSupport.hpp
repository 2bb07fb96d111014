#pragma once

// What the tests on a real KWin (scripts/kwin-desktop.sh) share: starting the programs whose
// windows they look at, and having KWin itself place those windows.

#include "backends/linux/wayland/CompositorLink.hpp"
#include "linux/support/ChildProcess.hpp"
#include "plinth/ScreenGeometry.hpp"

#include <systemd/sd-bus.h>

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace orvane::linuxbackend::test {

// The variable's value, empty when unset.
const char* env(const char* name);

sd_bus* sessionBus();

// Runs `script` in KWin, as a script of the test's own.
void runInKWin(sd_bus* bus, const std::string& script);

// Moves the windows named by caption, frame top-left corner to the point in KWin's own space,
// through a script of the test's own: a client may not place itself on Wayland, and KWin puts
// new windows where its placement policy says.
void placeWindows(sd_bus* bus, const std::vector<std::pair<std::string, plinth::Point>>& places);

const CompositorWindow* byTitle(const CompositorSnapshot& s, const std::string& title);

} // namespace orvane::linuxbackend::test
