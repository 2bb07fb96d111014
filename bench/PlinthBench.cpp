#include "plinth/GazeModel.hpp"
#include "plinth/HeadPose.hpp"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

// A full store: 400 samples over two side-by-side displays, the head turned towards each
// target with tracker-like noise.
std::vector<plinth::CalibrationSample> realisticSamples() {
    std::mt19937 random(20240611);
    std::uniform_real_distribution<double> targetX(0.0, 3840.0);
    std::uniform_real_distribution<double> targetY(0.0, 1080.0);
    std::normal_distribution<double> noise(0.0, 0.02);
    std::vector<plinth::CalibrationSample> samples;
    samples.reserve(400);
    for (int i = 0; i < 400; ++i) {
        const double x = targetX(random);
        const double y = targetY(random);
        const double yaw = (x - 1920.0) / 3840.0 + noise(random);
        const double pitch = (y - 540.0) / 2700.0 + noise(random);
        const plinth::HeadPose pose{yaw,
                                    pitch,
                                    noise(random),
                                    0.5 + 0.3 * yaw + noise(random) / 4,
                                    0.45 + 0.2 * pitch + noise(random) / 4,
                                    0.05 + noise(random) / 10,
                                    i / 15.0};
        samples.push_back({pose.features(), x, y, pose.area});
    }
    return samples;
}

void BM_GazeModelFit400(benchmark::State& state) {
    const auto samples = realisticSamples();
    for (auto _ : state) {
        auto model = plinth::GazeModel::fit(samples);
        benchmark::DoNotOptimize(model);
    }
}
BENCHMARK(BM_GazeModelFit400);

void BM_GazeModelPredict(benchmark::State& state) {
    const auto model = plinth::GazeModel::fit(realisticSamples());
    if (!model) {
        state.SkipWithError("fit failed");
        return;
    }
    const auto features = plinth::HeadPose{0.12, -0.04, 0.01, 0.53, 0.44, 0.05, 0}.features();
    for (auto _ : state) {
        auto point = model->predict(features);
        benchmark::DoNotOptimize(point);
    }
}
BENCHMARK(BM_GazeModelPredict);

} // namespace
