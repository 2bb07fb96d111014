#pragma once

#include "orvane/platform/CameraService.hpp"
#include "plinth/Geometry.hpp"

#include <optional>
#include <string>
#include <vector>

namespace orvane {

struct FaceObservation {
    // Normalised to 0...1 of the oriented image, origin at its lower-left corner.
    plinth::Rect boundingBox;
    // Radians, in one fixed convention from frame to frame and run to run; nullopt when the
    // detector could not tell.
    std::optional<double> yaw;
    std::optional<double> pitch;
    std::optional<double> roll;
};

struct FaceDetectionResult {
    std::optional<std::string> error; // set: detection failed, `faces` is empty
    std::vector<FaceObservation> faces;
};

// Finds faces and head angles in a frame. Called on the camera's serial queue only.
class FaceDetector {
public:
    virtual ~FaceDetector() = default;

    // `orientation` is an EXIF orientation code of how the frame is to be read (5: mirrored
    // and rotated, the front camera's view).
    virtual FaceDetectionResult detect(const PixelBuffer& frame, int orientation) = 0;

    // The longer side beyond which a frame adds nothing to a search for faces not yet being
    // followed; 0: the whole frame is always used.
    virtual int searchFrameSide() const { return 0; }

    // The longer side of a frame that is enough to follow the faces of the last frame as well
    // as a whole frame would; 0: the whole frame. Asked after `detect`, on the same queue.
    virtual int followFrameSide() const { return 0; }

    // The top fraction of the next frame's rows that is enough to follow the faces of the last
    // frame; 1: the whole frame. Asked after `detect`, on the same queue.
    virtual double followFrameRows() const { return 1; }

    // True while the detector is still reading what it needs and answers every frame with no
    // faces and no error. Any thread.
    virtual bool isLoading() const { return false; }
};

} // namespace orvane
