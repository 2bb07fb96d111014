#pragma once

#include "orvane/platform/CameraService.hpp"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

namespace orvane::linuxbackend {

// Which of a source's frames the consumer's demand leaves worth decoding, and at what size: a
// frame sooner than the demanded rate allows is passed over before it is decoded, and a frame
// kept may be decoded at 1/2, 1/4 or 1/8 of its size, the scales a JPEG decoder gives for a
// fraction of the full work. Any thread.
class FramePacer {
public:
    using Clock = std::chrono::steady_clock;
    // Of the demanded period: a steady stream at the demanded rate passes whole.
    static constexpr double spacingFactor = 0.97;

    void setDemand(const FrameDemand& demand);
    FrameDemand demand() const;

    // For a `width` x `height` frame that came at `now`: nullopt to pass it over, else the
    // divisor of its sides to decode it at.
    std::optional<int> admit(Clock::time_point now, int width, int height);
    // The top fraction of a kept frame's rows to decode (FrameDemand::topRows).
    double topRows() const;
    // A new stream: its first frame is kept whatever came before.
    void restart();
    // Frames passed over. Never reset.
    std::int64_t framesSkipped() const;

    // The largest of 8, 4 and 2 that keeps the longer side at least `minimumSide`, else 1.
    static int scaleFor(int width, int height, int minimumSide);

private:
    mutable std::mutex mutex_;
    FrameDemand demand_;
    std::optional<Clock::time_point> lastKept_;
    std::int64_t skipped_ = 0;
};

} // namespace orvane::linuxbackend
