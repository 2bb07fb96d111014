#pragma once

#include "backends/linux/runtime/ThreadSerialQueue.hpp"
#include "linux/support/TemporaryDirectory.hpp"
#include "orvane/platform/CameraService.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace orvane::linuxbackend {

struct CameraTestDirectory : test::TemporaryDirectory {
    CameraTestDirectory() : TemporaryDirectory("orvane-camera") {}
};

// What a test keeps of a delivered frame (the buffer itself is gone after the call).
struct SeenFrame {
    int width = 0;
    int height = 0;
    std::size_t bytesPerRow = 0;
    PixelFormat format = PixelFormat::bgra32;
    int centre = 0; // the mean of the channels of the middle pixel
    std::chrono::steady_clock::time_point at;
    int pictureRows = 0;
    int bottom = 0; // the same of the middle pixel of the last row
};

// Collects frames from a session's handler and lets a test wait for them.
class FrameCollector {
public:
    FrameCollector();
    std::function<void(const PixelBuffer&)> handler();
    // True once `count` frames arrived; gives up after `timeout`.
    bool waitFor(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    std::vector<SeenFrame> frames() const;

private:
    struct State {
        mutable std::mutex mutex;
        std::condition_variable arrived;
        std::vector<SeenFrame> frames;
    };
    std::shared_ptr<State> state_;
};

// A real serial queue that counts the tasks posted to it.
class CountingQueue : public SerialQueue {
public:
    CountingQueue() : inner_(std::make_shared<ThreadSerialQueue>("camera-test")) {}
    void async(Task task) override;
    int posted() const { return posted_.load(); }
    // Waits until every task posted so far has run.
    bool drain(std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    std::shared_ptr<ThreadSerialQueue> inner_;
    std::atomic<int> posted_{0};
};

} // namespace orvane::linuxbackend
