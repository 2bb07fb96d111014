#pragma once

#include <cstdint>
#include <ostream>

namespace orvane {

// The "--probe-camera" mode: runs the engine's camera and head-pose pipeline for a while
// without any interface and reports, line by line as it goes, what came through and where the
// last pose would put the gaze, ending with a one-line verdict.
namespace CameraProbe {

// Runs on the main thread for `seconds` (none at all when not positive) and returns once the
// report is written to `out`.
void run(std::int64_t seconds, std::ostream& out);

} // namespace CameraProbe

} // namespace orvane
