// How soon someone coming back is found: the empty clip plays a while, then the face clip, as
// the camera gives them while nobody is in view (the tracker's fewer, smaller frames), each
// kept frame going to the face detector. Prints the time from the face clip's first frame to
// the frame the face is found in, for each of TRIALS returns at different moments.
//   orvane_return_time EMPTY_CLIP FACE_CLIP [TRIALS]

#include "backends/linux/camera/ClipFrameSource.hpp"
#include "backends/linux/face/DlibFaceDetector.hpp"
#include "orvane/camera/HeadPoseTracker.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stop_token>
#include <vector>

namespace {

using namespace orvane;
using namespace orvane::linuxbackend;
using SteadyClock = std::chrono::steady_clock;

PixelBuffer bufferOf(const cv::Mat& image) {
    return {image.cols, image.rows, image.step[0], image.data, PixelFormat::gray8};
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s EMPTY_CLIP FACE_CLIP [TRIALS]\n", argv[0]);
        return 2;
    }
    const int trials = argc > 3 ? std::max(1, std::atoi(argv[3])) : 10;
    ClipFrameSource empty(argv[1], PixelFormat::gray8);
    ClipFrameSource face(argv[2], PixelFormat::gray8);
    for (auto* clip : {&empty, &face}) {
        if (const auto problem = clip->load()) {
            std::fprintf(stderr, "%s\n", problem->c_str());
            return 1;
        }
    }
    DlibFaceDetector detector;
    FramePacer pacer;
    pacer.setDemand({HeadPoseTracker::awayFramesPerSecond, detector.searchFrameSide()});
    std::stop_source stop;
    std::vector<double> found;
    for (int trial = 0; trial < trials; ++trial) {
        // Away for a while, a different fraction of a frame period each time.
        detector.forgetFaces();
        empty.startStreaming();
        const auto back = SteadyClock::now() + std::chrono::milliseconds(1500 + 67 * trial);
        while (SteadyClock::now() < back) {
            if (const auto read = empty.readFrame(stop.get_token(), pacer); read.frame) {
                detector.detect(bufferOf(read.frame->image), HeadPoseTracker::frameOrientation);
            }
        }
        face.startStreaming();
        const auto due = SteadyClock::now();
        for (int frame = 0; frame < 100; ++frame) {
            const auto read = face.readFrame(stop.get_token(), pacer);
            if (read.frame &&
                !detector.detect(bufferOf(read.frame->image), HeadPoseTracker::frameOrientation)
                     .faces.empty()) {
                found.push_back(std::chrono::duration<double>(SteadyClock::now() - due).count());
                break;
            }
        }
        if (found.size() != static_cast<std::size_t>(trial + 1)) {
            std::fprintf(stderr, "FAIL: no face found in 100 frames of the face clip\n");
            return 1;
        }
        std::printf("trial %d: found after %.0f ms\n", trial + 1, 1000 * found.back());
    }
    std::sort(found.begin(), found.end());
    std::printf("time to find a returning face: median %.0f ms, longest %.0f ms\n",
                1000 * found[found.size() / 2], 1000 * found.back());
    return 0;
}
