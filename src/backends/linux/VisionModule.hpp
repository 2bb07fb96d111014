#pragma once

#include "orvane/platform/CameraService.hpp"
#include "orvane/platform/FaceDetector.hpp"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvane::linuxbackend {

struct VisionModuleState;

// The cameras and the face detector live in a module of their own, liborvane-vision.so, with
// the libraries only they need (OpenCV, dlib, BLAS, TurboJPEG): linking those into the program
// made every start wait for them before the tray icon could show. The platform holds stand-ins
// that open the module at their first use, which the engine's start makes, after the icon.
//
// A module that cannot be opened is reported once through `reportProblem`; then the cameras
// list none and fail to open with that reason, and the detector answers every frame with it.
class VisionModule {
public:
    // `paths`: where the module may be, tried in order. `reportProblem` also hears the camera
    // failures that have no caller to go back to.
    VisionModule(std::vector<std::string> paths,
                 std::function<void(const std::string&)> reportProblem);
    ~VisionModule();
    VisionModule(const VisionModule&) = delete;
    VisionModule& operator=(const VisionModule&) = delete;

    // The stand-ins, the same objects at every call. They may outlive this object.
    std::shared_ptr<CameraService> cameraService() const;
    std::shared_ptr<FaceDetector> faceDetector() const;

    // Opens the module unless that was tried already. Empty when it is open, else why not.
    // Any thread.
    std::string load() const;

    // Next to the program (a build tree), then where it is installed relative to the program:
    // `relativeInstall` from the program's folder.
    static std::vector<std::string> pathsBeside(const std::string& program,
                                                const std::string& relativeInstall);
    // For the running program.
    static std::vector<std::string> defaultPaths();

    static constexpr const char* fileName = "liborvane-vision.so";

private:
    std::shared_ptr<VisionModuleState> state_;
    std::shared_ptr<CameraService> camera_;
    std::shared_ptr<FaceDetector> detector_;
};

} // namespace orvane::linuxbackend
