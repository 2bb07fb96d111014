// Stores a calibration for the displays connected now that maps the head-turn clip's yaw
// across their whole width (its pitch onto their height), as if the user had calibrated while
// turning as the clip does. For measured runs and the demonstration:
//   orvane_calibrate_for_clip [AMPLITUDE_DEGREES]

#include "backends/linux/LinuxPlatform.hpp"
#include "orvane/calibration/CalibrationStore.hpp"
#include "plinth/HeadPose.hpp"
#include "plinth/ScreenGeometry.hpp"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    const double amplitude = (argc > 1 ? std::atof(argv[1]) : 20.0) * M_PI / 180.0;
    QCoreApplication application(argc, argv);
    auto desktop = orvane::linuxbackend::makeLinuxPlatform();
    if (!desktop.services->displays) {
        std::fprintf(stderr, "no displays: %s\n", desktop.desktopProblem.c_str());
        return 1;
    }
    orvane::PlatformInstallation installation(desktop.services);
    const auto screens = desktop.services->displays->screens();
    if (screens.empty() || amplitude <= 0) {
        std::fprintf(stderr, "nothing to calibrate for\n");
        return 1;
    }
    double left = 1e300, right = -1e300, top = 1e300, bottom = -1e300;
    for (const auto& screen : screens) {
        const auto frame = plinth::ScreenGeometry::flipToTopLeft(screen.frame, screens[0].frame);
        left = std::min(left, frame.minX());
        right = std::max(right, frame.maxX());
        top = std::min(top, frame.minY());
        bottom = std::max(bottom, frame.maxY());
    }
    std::vector<plinth::CalibrationSample> samples;
    for (int column = 0; column <= 8; ++column) {
        for (int row = 0; row <= 2; ++row) {
            const double yaw = amplitude * (column / 4.0 - 1.0);
            const double pitch = 0.1 * (1 - row);
            const plinth::HeadPose pose{yaw, pitch, 0, 0.5, 0.5, 0.04, 0};
            const double x = left + (right - left) * column / 8.0;
            const double y = top + (bottom - top) * row / 2.0;
            samples.push_back({pose.features(), std::clamp(x, left, right - 1),
                               std::clamp(y, top, bottom - 1), 0.04});
        }
    }
    auto& store = orvane::CalibrationStore::shared();
    store.replace(samples);
    if (!store.model()) {
        std::fprintf(stderr, "the calibration could not be fitted\n");
        return 1;
    }
    std::printf("calibrated %zu samples for %s in %s\n", samples.size(),
                store.layoutSignature().c_str(),
                store.fileLocation() ? store.fileLocation()->c_str() : "(memory)");
    return 0;
}
