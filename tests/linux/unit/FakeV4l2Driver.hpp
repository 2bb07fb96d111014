#pragma once

#include "backends/linux/camera/V4l2Io.hpp"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <linux/videodev2.h>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace orvane::linuxbackend {

// One pixel format of a fake node, with its sizes and frame intervals.
struct FakeFormat {
    std::uint32_t fourcc = V4L2_PIX_FMT_YUYV;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes{{1280, 720}};
    std::vector<v4l2_fract> discreteIntervals{{1, 30}};
    // When set: a continuous range from the first to the second instead of the list.
    std::optional<std::pair<v4l2_fract, v4l2_fract>> continuousIntervals;
};

struct FakeNode {
    std::string card = "Fake Camera";
    std::string busInfo = "usb-0000:00:14.0-1";
    std::uint32_t deviceCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    std::vector<FakeFormat> formats{FakeFormat{}};
    int openError = 0;  // errno for every open
    int sParmError = 0; // errno for VIDIOC_S_PARM
    bool adjustableRate = true;
};

// A V4L2 driver in memory, answering the calls the camera code makes: capabilities, formats,
// sizes, intervals, rate, and mmap streaming of frames the test pushes.
class FakeV4l2Driver : public V4l2Io {
public:
    // What a node was last set to and what it holds now.
    struct Observed {
        v4l2_pix_format format{};
        std::optional<v4l2_fract> timePerFrame;
        int openDescriptors = 0;
        int mappedBuffers = 0;
        bool streaming = false;
        // Format or buffers requested while another descriptor still had buffers.
        int ownershipConflicts = 0;
    };

    void addNode(const std::string& path, FakeNode node);
    void setOpenError(const std::string& path, int error);
    // Unplugged while open (or plugged back in): every call on the node fails with ENODEV and
    // a waiting poll wakes up with an error, as when a USB camera goes.
    void setGone(const std::string& path, bool gone);
    Observed observed(const std::string& path) const;

    // Fills the next free buffer of the node's stream; false when none is free (a real driver
    // drops the frame then).
    bool pushFrame(const std::string& path, const std::vector<std::uint8_t>& bytes);
    // Waits until every pushed frame was taken and the reader waits for the next one.
    bool waitUntilDrained(const std::string& path, std::chrono::milliseconds timeout);

    int open(const std::string& path) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    void* mmap(int fd, std::size_t length, std::int64_t offset) override;
    int munmap(void* address, std::size_t length) override;
    int poll(int fd, int timeoutMilliseconds) override;

private:
    struct Stream {
        std::string path;
        std::vector<std::vector<std::uint8_t>> buffers;
        std::vector<std::uint32_t> bytesUsed;
        std::deque<std::uint32_t> queued;
        std::deque<std::uint32_t> filled;
        bool streaming = false;
        bool waiting = false;
    };
    struct NodeState {
        FakeNode node;
        Observed observed;
        bool gone = false;
    };
    int fail(int error) const;
    int handle(Stream& stream, NodeState& state, unsigned long request, void* argument);
    const FakeFormat* findFormat(const NodeState& state, std::uint32_t fourcc) const;
    bool othersHoldBuffers(int fd, const std::string& path) const;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, NodeState> nodes_;
    std::map<int, Stream> streams_;
    int nextFd_ = 100;
};

} // namespace orvane::linuxbackend
