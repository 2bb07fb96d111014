// The least a camera stream can cost: a clip played at its own rate, paced by the clock as a
// camera is, each frame decoded to grey by the same clip source Orvane reads, and nothing else
// done with it. bench/measure-tracking.sh sets Orvane's CPU share against this one's.
//   orvane_decode_reference CLIP [SECONDS]
// Runs SECONDS, or until SIGTERM or SIGINT, then prints how many frames it decoded.

#include "backends/linux/camera/ClipFrameSource.hpp"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <stop_token>
#include <thread>

namespace {

using orvane::PixelFormat;
using orvane::linuxbackend::ClipFrameSource;

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CLIP [SECONDS]\n", argv[0]);
        return 2;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 0;
    if (seconds < 0) {
        std::fprintf(stderr, "SECONDS must not be negative\n");
        return 2;
    }
    // Signals are taken by a thread of their own, which asks the reading loop to stop.
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGTERM);
    sigaddset(&stopping, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopping, nullptr);

    ClipFrameSource clip(argv[1], PixelFormat::gray8);
    if (const auto problem = clip.load()) {
        std::fprintf(stderr, "%s\n", problem->c_str());
        return 1;
    }
    std::stop_source stop;
    std::jthread signals([&stop, stopping] {
        int signal = 0;
        sigwait(&stopping, &signal);
        stop.request_stop();
    });
    if (const auto problem = clip.startStreaming()) {
        std::fprintf(stderr, "%s\n", problem->c_str());
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                 std::chrono::duration<double>(seconds));
    long frames = 0;
    int status = 0;
    orvane::linuxbackend::FramePacer everyFrame;
    while (!stop.stop_requested() && (seconds == 0 || std::chrono::steady_clock::now() < end)) {
        const auto read = clip.readFrame(stop.get_token(), everyFrame);
        if (read.ended) {
            std::fprintf(stderr, "%s: the clip broke off\n", argv[1]);
            status = 1;
            break;
        }
        frames += read.frame.has_value() ? 1 : 0;
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("decoded %ld frames in %.1f s\n", frames, elapsed.count());
    std::fflush(stdout);
    // Ends the signal thread's wait: it has nothing more to stop.
    if (!stop.stop_requested()) {
        pthread_kill(signals.native_handle(), SIGTERM);
    }
    return status;
}
