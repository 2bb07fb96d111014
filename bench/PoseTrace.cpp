// The faces and head angles the detector reads on a clip, frame after frame, one line a frame:
//   orvane_pose_trace CLIP [ROUNDS] [ORIENTATION] [DIVISOR] [top] [noise=SEED]
// prints "frame faces yaw pitch roll left bottom width height" (angles in degrees, the box
// normalised). Two builds' traces of the same clip show whether a change to the detector moved
// the poses, and by how much against their frame-to-frame noise. With a DIVISOR, every frame is
// scaled down by it (as a camera asked for smaller frames decodes them), else none is:
// how small a face may be before its poses grow noisier. With `top`, each frame is blacked out
// below the rows the detector asked for after the frame before (followFrameRows), as the camera
// then leaves them undecoded: whether following the face reads anything below them.
// With `noise=SEED`, each pixel of each frame is made one grey level lighter, darker or left
// (drawn from SEED), far below a camera's own noise. The detector carries each frame's box into the
// next, so such a change can still set it on another path: traces of a few seeds show how far the
// poses wander by chance alone, the yardstick for a change to the detector
// (bench/pose-spread.sh).
#include "backends/linux/face/DlibFaceDetector.hpp"

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CLIP [ROUNDS] [ORIENTATION] [DIVISOR] [top] [noise=SEED]\n",
                     argv[0]);
        return 2;
    }
    // The clip is played ROUNDS times over without a break, as the clip camera loops it.
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    const int orientation = argc > 3 ? std::atoi(argv[3]) : 5;
    const double divisor = argc > 4 ? std::max(1.0, std::atof(argv[4])) : 1.0;
    bool topRowsOnly = false;
    std::optional<std::uint64_t> noiseSeed;
    for (int i = 5; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "top") {
            topRowsOnly = true;
        } else if (option.rfind("noise=", 0) == 0) {
            noiseSeed = std::strtoull(option.c_str() + 6, nullptr, 10);
        } else {
            std::fprintf(stderr, "%s: unknown option %s\n", argv[0], option.c_str());
            return 2;
        }
    }
    std::vector<cv::Mat> frames;
    cv::VideoCapture video(argv[1], cv::CAP_OPENCV_MJPEG);
    for (cv::Mat frame, gray; video.read(frame) && !frame.empty();) {
        cv::cvtColor(frame, gray, cv::COLOR_BGR2GRAY);
        if (divisor > 1) {
            cv::resize(gray, gray,
                       cv::Size(static_cast<int>(std::ceil(gray.cols / divisor)),
                                static_cast<int>(std::ceil(gray.rows / divisor))),
                       0, 0, cv::INTER_AREA);
        }
        frames.push_back(gray.clone());
    }
    if (noiseSeed) {
        cv::RNG random(*noiseSeed);
        cv::Mat noise;
        for (auto& frame : frames) {
            noise.create(frame.size(), CV_16S);
            random.fill(noise, cv::RNG::UNIFORM, -1, 2);
            cv::Mat noisy;
            cv::add(frame, noise, noisy, cv::noArray(), CV_8U);
            frame = noisy;
        }
    }
    if (frames.empty()) {
        std::fprintf(stderr, "%s: cannot read the clip\n", argv[1]);
        return 1;
    }
    orvane::linuxbackend::DlibFaceDetector detector;
    const auto degrees = [](const std::optional<double>& radians) {
        return radians ? *radians * 180 / M_PI : NAN;
    };
    // CPU time of this thread: on a machine shared with other work, wall time says little.
    const auto cpuNow = [] {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
    };
    std::chrono::nanoseconds spent{};
    int index = 0;
    double rowsShare = 0;
    cv::Mat top;
    for (int round = 0; round < rounds; ++round) {
        for (const auto& whole : frames) {
            cv::Mat gray = whole;
            int pictureRows = 0;
            if (topRowsOnly) {
                // As the decoder rounds: whole rows of blocks.
                const int block = 16 / std::clamp(static_cast<int>(divisor), 1, 8);
                const int rows =
                    std::min(whole.rows,
                             (static_cast<int>(std::ceil(detector.followFrameRows() * whole.rows)) +
                              block - 1) /
                                 block * block);
                rowsShare += static_cast<double>(rows) / whole.rows;
                if (rows < whole.rows) {
                    whole.copyTo(top);
                    top.rowRange(rows, top.rows).setTo(0);
                    gray = top;
                    pictureRows = rows;
                }
            }
            orvane::PixelBuffer buffer;
            buffer.width = gray.cols;
            buffer.height = gray.rows;
            buffer.bytesPerRow = gray.step[0];
            buffer.data = gray.data;
            buffer.format = orvane::PixelFormat::gray8;
            buffer.pictureRows = pictureRows;
            const auto start = cpuNow();
            const auto result = detector.detect(buffer, orientation);
            if (index > 0) {
                spent += cpuNow() - start; // the first frame reads the model as well
            }
            if (result.error) {
                std::fprintf(stderr, "%s\n", result.error->c_str());
                return 1;
            }
            std::printf("%d %zu", index++, result.faces.size());
            if (!result.faces.empty()) {
                const auto& face = result.faces.front();
                std::printf(" %.3f %.3f %.3f %.4f %.4f %.4f %.4f", degrees(face.yaw),
                            degrees(face.pitch), degrees(face.roll), face.boundingBox.x,
                            face.boundingBox.y, face.boundingBox.width, face.boundingBox.height);
            }
            std::printf("\n");
        }
    }
    std::fprintf(stderr, "frames needed %d pixels on their longer side\n",
                 detector.followFrameSide());
    if (topRowsOnly) {
        std::fprintf(stderr, "frames decoded down to %.0f %% of their rows on average\n",
                     100 * rowsShare / std::max(index, 1));
    }
    std::fprintf(stderr, "%d frames, %.3f ms of CPU a frame, %lld full searches\n", index,
                 std::chrono::duration<double, std::milli>(spent).count() / std::max(index - 1, 1),
                 static_cast<long long>(detector.fullSearches()));
    return 0;
}
