#pragma once

#include "orvane/platform/MainQueue.hpp"

#include <functional>
#include <memory>
#include <string>

namespace orvane {

class GazeEngine;

// What the engine sees and does, one line a second, for a person watching a demonstration or
// a recorded run: where the head points, where the gaze lands and on which display, the
// window with keyboard focus and the engine's status. Main thread.
class GazeReport {
public:
    static constexpr double interval = 1.0;

    // Starts writing at once; every line goes to `write` without a line break.
    GazeReport(std::shared_ptr<GazeEngine> engine, std::function<void(const std::string&)> write);
    ~GazeReport();
    GazeReport(const GazeReport&) = delete;
    GazeReport& operator=(const GazeReport&) = delete;

    // "  7 s  head yaw +14° pitch -2°  gaze (2710, 540) on RIGHT  focus: notes (Editor)  [tracking
    // on RIGHT]": seconds since the start, the parts that are unknown as "—".
    std::string line() const;

private:
    std::shared_ptr<GazeEngine> engine_;
    std::function<void(const std::string&)> write_;
    double startedAt_;
    TimerHandle timer_;
};

} // namespace orvane
