// Writes a recorded clip of a real face turning right and left, for the probe and demo runs:
//   orvane_head_turn_clip OUTPUT.avi [FRAMES] [FPS]

#include "linux/support/FacePhotos.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.avi [FRAMES] [FPS]\n", argv[0]);
        return 2;
    }
    const int frames = argc > 2 ? std::atoi(argv[2]) : 60;
    const double fps = argc > 3 ? std::atof(argv[3]) : 15;
    if (frames <= 0 || fps <= 0) {
        std::fprintf(stderr, "FRAMES and FPS must be positive\n");
        return 2;
    }
    std::string problem;
    const auto frame = orvane::linuxbackend::test::standardFaceFrame(&problem);
    if (frame.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    if (const auto failure =
            orvane::linuxbackend::test::writeHeadTurnClip(argv[1], frame, frames, fps)) {
        std::fprintf(stderr, "%s\n", failure->c_str());
        return 1;
    }
    return 0;
}
