#pragma once

#include <ostream>

namespace orvane {

// The "--diagnose" mode: one plain-text report, written without starting any camera or
// monitor, of everything that decides whether Orvane can work right now — its identity, the
// camera permission, accessibility trust, the cameras and displays, the stored calibration and
// the guards that would hold a focus switch back.
namespace Diagnostics {

// Writes the report to `out`, flushing as it goes, and returns. A service the platform lacks
// (no display to talk to) is answered by the report's fallback words rather than skipped.
void run(std::ostream& out);

// True when our parent is not the system's own launcher: a terminal, a shell, a debugger, or a
// parent whose executable cannot be read.
bool isLaunchedFromTerminal();

} // namespace Diagnostics

} // namespace orvane
