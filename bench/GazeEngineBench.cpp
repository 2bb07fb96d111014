#include "backends/sim/SimDesktop.hpp"
#include "orvane/calibration/CalibrationStore.hpp"
#include "orvane/engine/GazeEngine.hpp"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using namespace orvane;

// One pose through the whole per-pose path up to the settle test, on a desktop of two
// displays with a dozen windows: readiness, drift, prediction, clamping and every guard.
void BM_HandlePoseBeforeSettle(benchmark::State& state) {
    sim::SimDesktop desktop;
    desktop.displays->setFrames({{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}});
    for (pid_t pid = 501; pid < 513; ++pid) {
        desktop.launchApplication(pid, "org.example.App" + std::to_string(pid), "App");
        const double x = (pid - 501) * 300.0;
        desktop.openWindow(pid, {x, 100, 900, 700}, "window");
    }
    desktop.workspace->setFrontmost(501);
    std::vector<plinth::CalibrationSample> samples;
    for (double yaw = -0.3; yaw <= 0.31; yaw += 0.1) {
        for (double pitch = -0.2; pitch <= 0.21; pitch += 0.1) {
            const plinth::HeadPose pose{yaw, pitch, 0, 0.5 + yaw / 10, 0.5 + pitch / 10, 0.04, 0};
            samples.push_back({pose.features(), 1920 + yaw * 6400, 540 - pitch * 2000, 0.04});
        }
    }
    CalibrationStore::shared().replace(samples);
    auto engine = GazeEngine::make();
    engine->guards().start();

    // Alternating displays keeps every pose on the arming path, never switching.
    const plinth::HeadPose towardA{-0.15, 0, 0, 0.5, 0.5, 0.04, desktop.clock->now()};
    const plinth::HeadPose towardB{0.15, 0, 0, 0.5, 0.5, 0.04, desktop.clock->now()};
    bool onA = true;
    for (auto _ : state) {
        engine->handle(onA ? towardA : towardB);
        onA = !onA;
    }
}
BENCHMARK(BM_HandlePoseBeforeSettle);

} // namespace
