#include "backends/sim/SimDesktop.hpp"
#include "orvane/calibration/CalibrationFile.hpp"
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

std::vector<plinth::CalibrationSample> fullSet() {
    std::vector<plinth::CalibrationSample> samples;
    for (int i = 0; i < 400; ++i) {
        samples.push_back(sampleAt(i));
    }
    return samples;
}

void appendRepeatedly(benchmark::State& state, orvane::CalibrationStore& store) {
    store.replace(fullSet());
    int next = 400;
    for (auto _ : state) {
        store.append(sampleAt(next++));
    }
    benchmark::DoNotOptimize(store.model());
}

// A click sample at the 400 cap: drop the oldest, refit on 400 rows, rewrite the file
// atomically (fsync of the file and of its directory included) — the whole cost the main
// thread pays per click. The CPU time counts the kernel's work for the write too.
void appendAtTheCap(benchmark::State& state) {
    orvane::sim::SimDesktop desktop;
    orvane::CalibrationStore store;
    appendRepeatedly(state, store);
}
BENCHMARK(appendAtTheCap)->Unit(benchmark::kMicrosecond);

// The same without a file: what is left is the refit and the store's own bookkeeping.
void appendAtTheCapInMemory(benchmark::State& state) {
    orvane::sim::SimDesktop desktop;
    auto services = std::make_shared<orvane::Platform>(*desktop.services);
    services->fileSystem = std::make_shared<orvane::posix::PosixFileSystem>(std::nullopt);
    orvane::PlatformInstallation installation(services);
    orvane::CalibrationStore store;
    appendRepeatedly(state, store);
}
BENCHMARK(appendAtTheCapInMemory)->Unit(benchmark::kMicrosecond);

// Encoding and decoding a full file, as at a calibration and at every start.
void encodeAFullFile(benchmark::State& state) {
    const auto samples = fullSet();
    for (auto _ : state) {
        benchmark::DoNotOptimize(orvane::CalibrationFile::encode(samples, "0,0,1920x1080"));
    }
}
BENCHMARK(encodeAFullFile)->Unit(benchmark::kMicrosecond);

void decodeAFullFile(benchmark::State& state) {
    const auto text = orvane::CalibrationFile::encode(fullSet(), "0,0,1920x1080");
    for (auto _ : state) {
        benchmark::DoNotOptimize(orvane::CalibrationFile::decode(text, 400));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(decodeAFullFile)->Unit(benchmark::kMicrosecond);

} // namespace
