#pragma once

#include <string>

namespace orvane {

// What the engine is doing or waiting for. `text` is the display's name for `tracking` and the
// reason for `waiting`; empty for every other kind.
struct GazeStatus {
    enum class Kind {
        tracking,
        waiting,
        needsCamera,
        needsAccessibility,
        needsCalibration,
        paused,
        noFace
    };

    Kind kind = Kind::needsCamera;
    std::string text;

    static GazeStatus tracking(std::string screen) { return {Kind::tracking, std::move(screen)}; }
    static GazeStatus waiting(std::string reason) { return {Kind::waiting, std::move(reason)}; }
    static GazeStatus needsCamera() { return {Kind::needsCamera, {}}; }
    static GazeStatus needsAccessibility() { return {Kind::needsAccessibility, {}}; }
    static GazeStatus needsCalibration() { return {Kind::needsCalibration, {}}; }
    static GazeStatus paused() { return {Kind::paused, {}}; }
    static GazeStatus noFace() { return {Kind::noFace, {}}; }

    // Missing permissions or calibration: what the onboarding window is for.
    bool needsSetUp() const {
        return kind == Kind::needsCamera || kind == Kind::needsAccessibility ||
               kind == Kind::needsCalibration;
    }

    friend bool operator==(const GazeStatus&, const GazeStatus&) = default;
};

// "tracking on LEFT", "waiting: typing", "needs calibration": for the log and the terminal.
std::string describe(const GazeStatus& status);

} // namespace orvane
