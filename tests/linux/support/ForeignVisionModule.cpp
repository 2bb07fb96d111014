// A module that offers the vision entry point under another build's name: the loader must
// refuse it before calling anything it offers.

#include "backends/linux/vision/VisionEntry.hpp"

#include <cstdlib>

namespace {

std::shared_ptr<orvane::CameraService> makeCameraService(std::function<void(const std::string&)>) {
    std::abort();
}

std::shared_ptr<orvane::FaceDetector> makeFaceDetector() {
    std::abort();
}

} // namespace

extern "C" __attribute__((visibility("default"))) const orvane::linuxbackend::VisionEntry*
orvane_vision_entry() {
    static const orvane::linuxbackend::VisionEntry entry{"orvane-vision 0, another compiler",
                                                         &makeCameraService, &makeFaceDetector};
    return &entry;
}
