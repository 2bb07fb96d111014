// Writes two clips that look to the decoder and the face pipeline as a webcam's stream does, for
// measuring what Orvane costs:
//   orvane_webcam_clip FACE.avi EMPTY.avi [FRAMES]
// Both are 1280 x 720 Motion-JPEG at 15 frames a second, FRAMES long (default 90). FACE.avi
// shows the head turning right and left in front of a room; EMPTY.avi the same room with
// nobody in it. A camera held still still shakes and its sensor is noisy, so no two frames are
// alike: each one is moved by up to 3 pixels and carries fresh noise. A clip of identical
// frames would let caches and the encoder flatter every figure.

#include "demo/FacePhotos.hpp"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FACE.avi EMPTY.avi [FRAMES]\n", argv[0]);
        return 2;
    }
    const int frames = argc > 3 ? std::atoi(argv[3]) : 90;
    if (frames <= 0) {
        std::fprintf(stderr, "FRAMES must be positive\n");
        return 2;
    }
    if (const auto failure = orvane::demo::writeWebcamClips(argv[1], argv[2], frames)) {
        std::fprintf(stderr, "%s\n", failure->c_str());
        return 1;
    }
    return 0;
}
