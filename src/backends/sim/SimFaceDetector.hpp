#pragma once

#include "backends/sim/VirtualHead.hpp"
#include "orvane/platform/Clock.hpp"
#include "orvane/platform/FaceDetector.hpp"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace orvane::sim {

// Reports the virtual head as it is at the moment of each detection, whatever the frame holds.
class SimFaceDetector : public FaceDetector {
public:
    explicit SimFaceDetector(std::shared_ptr<VirtualHead> head) : head_(std::move(head)) {}

    FaceDetectionResult detect(const PixelBuffer& frame, int orientation) override;
    bool isLoading() const override;

    // Reads its models until `clock` reaches `monotonic`, answering no faces until then.
    void setLoadingUntil(std::shared_ptr<const Clock> clock, double monotonic);

    std::int64_t detections() const { return detections_.load(); }
    // The orientation of the latest detection; 0 before the first.
    int lastOrientation() const { return lastOrientation_.load(); }
    // What it answers it needs of frames to follow the head: 0, the whole frame, until set.
    void setFollowFrameSide(int side) { followFrameSide_ = side; }
    int followFrameSide() const override { return followFrameSide_.load(); }
    // And of the frames' rows, from the top: 1, all of them, until set.
    void setFollowFrameRows(double rows) { followFrameRows_ = rows; }
    double followFrameRows() const override { return followFrameRows_.load(); }

private:
    std::shared_ptr<VirtualHead> head_;
    std::atomic<std::int64_t> detections_{0};
    std::atomic<int> lastOrientation_{0};
    std::atomic<int> followFrameSide_{0};
    std::atomic<double> followFrameRows_{1};
    mutable std::mutex mutex_;
    std::shared_ptr<const Clock> loadingClock_;
    double loadedAt_ = 0;
};

} // namespace orvane::sim
