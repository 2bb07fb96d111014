#pragma once

#include "orvane/platform/FaceDetector.hpp"

#include <cstdint>
#include <memory>
#include <string>

namespace orvane::linuxbackend {

// Faces and head angles with dlib's HOG face detector, its 68-point landmark predictor and a
// rigid head model fitted by OpenCV's solvePnP.
//
// The first frame, and every frame after the faces are lost, searches the whole image (while
// nobody is in view, every few frames); later frames look only around the faces already
// found, with a full search now and then so that new faces are noticed. The landmark model
// (about 100 MB on disk) is read on the first frame, on the caller's thread, so construction
// costs nothing; or, after `loadInBackground`, on a thread of its own at once.
class DlibFaceDetector final : public FaceDetector {
public:
    static constexpr const char* defaultModelPath =
        "/usr/share/dlib/shape_predictor_68_face_landmarks.dat";
    // Frames between full searches while faces are being followed (two seconds at 15 fps):
    // a search costs several frames' work, and a lost face is searched for at once anyway.
    static constexpr int searchInterval = 30;
    // While nobody is in view, a frame is searched when the view has changed since the last
    // search (someone coming in), and otherwise after this many frames, for someone who sat
    // down too still to change it: about a second at the rate the tracker asks for then
    // (HeadPoseTracker::awayFramesPerSecond).
    static constexpr int idleSearchInterval = 5;
    // The view is compared as a thumbnail this many pixels on its longer side; it has changed
    // when the thumbnails differ by more than this many grey levels on average, beyond a
    // change of brightness overall. A camera's noise and shake stay well below.
    static constexpr int presenceThumbnailSide = 48;
    static constexpr double presenceChange = 4;

    explicit DlibFaceDetector(std::string modelPath = defaultModelPath);
    ~DlibFaceDetector() override;
    DlibFaceDetector(const DlibFaceDetector&) = delete;
    DlibFaceDetector& operator=(const DlibFaceDetector&) = delete;

    // Faces in the frame read in EXIF `orientation` (5: mirrored), surest first:
    // boxes normalised 0-1 with the origin at the lower-left; yaw, pitch and roll in radians
    // (nullopt when the head model cannot be fitted). An error when the landmark model is
    // missing or unreadable (tried again once the file changes) or the frame is unreadable.
    FaceDetectionResult detect(const PixelBuffer& frame, int orientation) override;

    // Starts reading the models on a thread of its own, at low priority. Until they are read,
    // frames are not analysed: `detect` answers no faces and no error. A model that cannot be
    // read is reported by `detect` as without this.
    void loadInBackground();
    bool isLoading() const override;
    // The side full searches scale frames down to.
    int searchFrameSide() const override;
    // The longer side that keeps the largest face followed some 96 pixels across, and at
    // least a full search's side; 0 while no face is followed.
    int followFrameSide() const override;
    // The rows down to some way below the lowest face followed (see FaceDetector), and the
    // whole frame when the next one is due a search for newcomers.
    double followFrameRows() const override;

    // Searches of the whole image so far. Any thread.
    std::int64_t fullSearches() const;

    // Forgets the faces being followed: the next frame searches the whole image.
    void forgetFaces();

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// The face detector of the Linux platform, reading the landmark model libdlib-data installs in
// the background from the start.
std::shared_ptr<FaceDetector> makeLinuxFaceDetector();

} // namespace orvane::linuxbackend
