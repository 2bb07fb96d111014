#pragma once

#include "backends/linux/camera/V4l2Io.hpp"
#include "orvane/platform/CameraService.hpp"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace orvane::linuxbackend {

// A V4L2 node that captures video we can read.
struct V4l2Node {
    std::string path; // the device node, e.g. /dev/video0
    CameraDevice device;
    bool builtIn = false; // on a USB port the firmware marks fixed
    int number = 0;       // N of videoN
};

// Finds the cameras among the video nodes under a /dev and a /sys root (tests point them at a
// tree of their own). Every call looks afresh: cameras come and go.
class V4l2Discovery {
public:
    V4l2Discovery(std::shared_ptr<V4l2Io> io, std::filesystem::path devRoot,
                  std::filesystem::path sysRoot);

    // Capture nodes offering MJPEG or YUYV, without metadata and infrared nodes; built-in
    // cameras first, then by node number. Ids come from the udev by-id links, else from the
    // bus and the card name.
    std::vector<V4l2Node> captureNodes() const;

    // Denied when every video node refuses us (EACCES/EPERM) and none that captures opens;
    // authorized otherwise, also when there is no node at all: nothing to refuse.
    CameraAuthorization authorization() const;

    // Whether a card name marks an infrared sensor ("IR Camera", "Integrated Infrared").
    static bool namesInfrared(const std::string& card);

private:
    struct Probe;
    Probe probe(const std::filesystem::path& node) const;
    std::vector<std::filesystem::path> videoNodes() const;
    bool isBuiltIn(const std::string& nodeName) const;

    std::shared_ptr<V4l2Io> io_;
    std::filesystem::path devRoot_;
    std::filesystem::path sysRoot_;
};

} // namespace orvane::linuxbackend
