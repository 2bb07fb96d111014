#pragma once

#include "backends/linux/camera/V4l2Io.hpp"
#include "orvane/platform/CameraService.hpp"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvane::linuxbackend {

// The cameras of a Linux machine: V4L2 webcams, then the recorded clips named in
// ORVANE_CAMERA_FILES as cameras of their own.
class V4l2CameraService : public CameraService {
public:
    struct Options {
        std::filesystem::path devRoot = "/dev";
        std::filesystem::path sysRoot = "/sys";
        // Video or image files offered as cameras after the real ones.
        std::vector<std::string> clipPaths;
        // How long an open waits for another session of this process to let go of the camera.
        std::chrono::milliseconds releaseTimeout{2000};
        // What frames are decoded to.
        PixelFormat frameFormat = PixelFormat::bgr24;
        // Hears streaming failures, which have no caller to go back to. May be empty.
        std::function<void(const std::string&)> reportProblem;
    };

    V4l2CameraService(std::shared_ptr<V4l2Io> io, Options options);

    // From the capture nodes we may open; clips never change it.
    CameraAuthorization authorizationStatus() const override;
    // Nobody is asked on Linux: the answer is whether access is granted now.
    void requestAccess(std::function<void(bool granted)> completion) override;
    std::vector<CameraDevice> devices() const override;
    std::unique_ptr<CameraSession> makeSession() override;

    static constexpr std::string_view clipIdPrefix = "file:";
    // The colon-separated list of ORVANE_CAMERA_FILES; empty entries are skipped.
    static std::vector<std::string> clipPathsFrom(const char* variable);
    // The camera a clip file appears as.
    static CameraDevice clipDevice(const std::string& path);

private:
    struct Shared;
    std::shared_ptr<const Shared> shared_;
};

// The real service: /dev and /sys, the clips of ORVANE_CAMERA_FILES.
std::shared_ptr<CameraService>
makeLinuxCameraService(std::function<void(const std::string&)> reportProblem = {});

} // namespace orvane::linuxbackend
