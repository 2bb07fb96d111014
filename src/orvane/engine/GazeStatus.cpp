#include "orvane/engine/GazeStatus.hpp"

namespace orvane {

std::string describe(const GazeStatus& status) {
    switch (status.kind) {
    case GazeStatus::Kind::tracking:
        return "tracking on " + status.text;
    case GazeStatus::Kind::waiting:
        return "waiting: " + status.text;
    case GazeStatus::Kind::needsCamera:
        return "needs camera access";
    case GazeStatus::Kind::needsAccessibility:
        return "needs accessibility access";
    case GazeStatus::Kind::needsCalibration:
        return "needs calibration";
    case GazeStatus::Kind::paused:
        return "paused";
    case GazeStatus::Kind::noFace:
        return "no face";
    }
    return "unknown";
}

} // namespace orvane
