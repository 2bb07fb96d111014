#include "backends/sim/SimDesktop.hpp"
#include "orvane/calibration/CalibrationStore.hpp"

#include <benchmark/benchmark.h>
#include <cmath>

namespace {

plinth::CalibrationSample sampleAt(int i) {
    const double yaw = std::sin(i * 0.37) * 0.3;
    const double pitch = std::cos(i * 0.11) * 0.2;
    return {{1.0, yaw, pitch, 0.5 + yaw * 0.2, 0.5 + pitch * 0.2},
            960 + yaw * 3000,
            540 + pitch * 2000,
            0.04 + 0.001 * (i % 7)};
}

// A click sample at the 400 cap: drop the oldest, refit on 400 rows, rewrite the file
// atomically (fsync included) — the whole cost the main thread pays per click.
void appendAtTheCap(benchmark::State& state) {
    orvane::sim::SimDesktop desktop;
    orvane::CalibrationStore store;
    std::vector<plinth::CalibrationSample> samples;
    for (int i = 0; i < 400; ++i) {
        samples.push_back(sampleAt(i));
    }
    store.replace(samples);
    int next = 400;
    for (auto _ : state) {
        store.append(sampleAt(next++));
    }
    benchmark::DoNotOptimize(store.model());
}
BENCHMARK(appendAtTheCap)->Unit(benchmark::kMicrosecond);

} // namespace
