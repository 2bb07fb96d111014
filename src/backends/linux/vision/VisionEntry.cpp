// The entry point of liborvane-vision.so, the module the Linux platform opens once the tray icon
// shows (see VisionModule).

#include "backends/linux/vision/VisionEntry.hpp"
#include "backends/linux/camera/V4l2CameraService.hpp"
#include "backends/linux/face/DlibFaceDetector.hpp"

namespace {

std::shared_ptr<orvane::CameraService>
makeCameraService(std::function<void(const std::string&)> reportProblem) {
    return orvane::linuxbackend::makeLinuxCameraService(std::move(reportProblem));
}

std::shared_ptr<orvane::FaceDetector> makeFaceDetector() {
    return orvane::linuxbackend::makeLinuxFaceDetector();
}

} // namespace

extern "C" __attribute__((visibility("default"))) const orvane::linuxbackend::VisionEntry*
orvane_vision_entry() {
    static const orvane::linuxbackend::VisionEntry entry{orvane::linuxbackend::visionAbi,
                                                         &makeCameraService, &makeFaceDetector};
    return &entry;
}
