#pragma once

#include "orvane/platform/CameraService.hpp"
#include "orvane/platform/FaceDetector.hpp"

#include <functional>
#include <memory>
#include <string>

namespace orvane::linuxbackend {

// What the camera and face module hands the program that opens it: the cameras and the face
// detector, whose libraries (OpenCV, dlib, BLAS, TurboJPEG) the program itself does not link,
// so that starting it does not wait for them.
//
// The module and the program are built together and pass C++ objects between them; `abi`
// tells a module from another build or compiler apart before anything of it is called.
struct VisionEntry {
    const char* abi = nullptr;
    std::shared_ptr<CameraService> (*makeCameraService)(
        std::function<void(const std::string&)> reportProblem) = nullptr;
    // Starts reading the landmark model in the background at once.
    std::shared_ptr<FaceDetector> (*makeFaceDetector)() = nullptr;
};

inline constexpr const char* visionAbi = "orvane-vision 2, " __VERSION__;

// The C name under which the module offers its `VisionEntry`.
inline constexpr const char* visionEntrySymbol = "orvane_vision_entry";
using VisionEntryFunction = const VisionEntry* (*)();

} // namespace orvane::linuxbackend
