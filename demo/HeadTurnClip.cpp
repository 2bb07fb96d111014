// Writes a recorded clip of a real face turning right and left, for the demonstration and the
// probe tests:
//   orvane_head_turn_clip OUTPUT.avi [FRAMES] [FPS] [FACELESS_FRAMES]
// With FACELESS_FRAMES, that many frames of an empty grey scene follow the turn, so that a
// looping clip alternates a face and no face.

#include "demo/FacePhotos.hpp"

#include <cstdio>
#include <cstdlib>
#include <opencv2/videoio.hpp>
#include <string>

namespace {

std::optional<std::string> writeTurnThenNoFace(const std::string& path, const cv::Mat& frame,
                                               int turnFrames, int facelessFrames, double fps) {
    using orvane::demo::headTurned;
    using orvane::demo::headTurnYaw;
    cv::VideoWriter writer(path, cv::CAP_OPENCV_MJPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'),
                           fps, frame.size());
    if (!writer.isOpened()) {
        return "cannot write a video to " + path;
    }
    for (int i = 0; i < turnFrames; ++i) {
        writer.write(headTurned(frame, headTurnYaw(i, turnFrames, 20 * CV_PI / 180), 0, 0));
    }
    const cv::Mat empty(frame.size(), frame.type(), cv::Scalar(128, 128, 128));
    for (int i = 0; i < facelessFrames; ++i) {
        writer.write(empty);
    }
    writer.release();
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.avi [FRAMES] [FPS] [FACELESS_FRAMES]\n", argv[0]);
        return 2;
    }
    const int frames = argc > 2 ? std::atoi(argv[2]) : 60;
    const double fps = argc > 3 ? std::atof(argv[3]) : 15;
    const int faceless = argc > 4 ? std::atoi(argv[4]) : 0;
    if (frames <= 0 || fps <= 0 || faceless < 0) {
        std::fprintf(stderr, "FRAMES and FPS must be positive, FACELESS_FRAMES not negative\n");
        return 2;
    }
    std::string problem;
    const auto frame = orvane::demo::standardFaceFrame(&problem);
    if (frame.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    const auto failure = faceless > 0
                             ? writeTurnThenNoFace(argv[1], frame, frames, faceless, fps)
                             : orvane::demo::writeHeadTurnClip(argv[1], frame, frames, fps);
    if (failure) {
        std::fprintf(stderr, "%s\n", failure->c_str());
        return 1;
    }
    return 0;
}
