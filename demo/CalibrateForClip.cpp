// Stores a calibration for the displays connected now that maps the head-turn clip's yaw
// across their whole width (its pitch onto their height), as if the user had calibrated while
// turning as the clip does. For the demonstration and measured runs:
//   orvane_calibrate_for_clip [AMPLITUDE_DEGREES] [--pitch DEGREES] [--display INDEX]
//                             [--camera CLIP] [--gaze-dot]
// --pitch is the head's pitch in the clip, put at mid-height (by default 0: looking straight);
// --display maps the yaw across that display alone (counted as the desktop lists them);
// --camera makes the clip the chosen camera (a real webcam would otherwise come first);
// --gaze-dot switches the dot that shows where Orvane thinks the user looks.

#include "backends/linux/LinuxPlatform.hpp"
#include "backends/linux/QSettingsPreferences.hpp"
#include "backends/linux/atspi/AtspiWorker.hpp"
#include "orvane/calibration/CalibrationStore.hpp"
#include "orvane/support/Prefs.hpp"
#include "plinth/HeadPose.hpp"
#include "plinth/ScreenGeometry.hpp"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Options {
    double amplitude = 20.0 * M_PI / 180.0;
    double pitch = 0;
    std::optional<std::string> camera;
    std::optional<std::size_t> display;
    bool gazeDot = false;
};

std::optional<Options> parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--pitch" && i + 1 < argc) {
            char* end = nullptr;
            options.pitch = std::strtod(argv[++i], &end) * M_PI / 180.0;
            if (*end != '\0' || !std::isfinite(options.pitch)) {
                return std::nullopt;
            }
        } else if (argument == "--display" && i + 1 < argc) {
            char* end = nullptr;
            const long index = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || index < 0) {
                return std::nullopt;
            }
            options.display = static_cast<std::size_t>(index);
        } else if (argument == "--camera" && i + 1 < argc) {
            options.camera = std::filesystem::absolute(argv[++i]).string();
        } else if (argument == "--gaze-dot") {
            options.gazeDot = true;
        } else if (char* end = nullptr;
                   (options.amplitude = std::strtod(argv[i], &end)) > 0 && *end == '\0') {
            options.amplitude *= M_PI / 180.0;
        } else {
            return std::nullopt;
        }
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    const auto options = parse(argc, argv);
    if (!options) {
        std::fprintf(stderr,
                     "usage: %s [AMPLITUDE_DEGREES] [--pitch DEGREES] [--display INDEX] "
                     "[--camera CLIP] [--gaze-dot]\n",
                     argv[0]);
        return 2;
    }
    orvane::linuxbackend::QtLoopWithoutGLib withoutGLib;
    QCoreApplication application(argc, argv);
    withoutGLib.restore();
    QCoreApplication::setApplicationName("Orvane");
    QCoreApplication::setOrganizationName("Orvane");
    auto desktop = orvane::linuxbackend::makeLinuxPlatform();
    if (!desktop.services->displays) {
        std::fprintf(stderr, "no displays: %s\n", desktop.desktopProblem.c_str());
        return 1;
    }
    orvane::PlatformInstallation installation(desktop.services);
    const auto screens = desktop.services->displays->screens();
    if (screens.empty()) {
        std::fprintf(stderr, "nothing to calibrate for\n");
        return 1;
    }
    if (options->display && *options->display >= screens.size()) {
        std::fprintf(stderr, "there is no display %zu: the desktop has %zu\n", *options->display,
                     screens.size());
        return 1;
    }
    double left = 1e300, right = -1e300, top = 1e300, bottom = -1e300;
    for (std::size_t index = 0; index < screens.size(); ++index) {
        if (options->display && index != *options->display) {
            continue;
        }
        const auto& frame = screens[index].frame;
        left = std::min(left, frame.minX());
        right = std::max(right, frame.maxX());
        top = std::min(top, frame.minY());
        bottom = std::max(bottom, frame.maxY());
    }
    const double amplitude = options->amplitude;
    std::vector<plinth::CalibrationSample> samples;
    for (int column = 0; column <= 8; ++column) {
        for (int row = 0; row <= 2; ++row) {
            const double yaw = amplitude * (column / 4.0 - 1.0);
            const double pitch = options->pitch + 0.1 * (1 - row);
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

    auto& prefs = orvane::Prefs::shared();
    if (options->camera) {
        prefs.setCameraID("file:" + *options->camera);
    }
    if (options->gazeDot) {
        prefs.defaults().setBool(orvane::PrefKey::showGazeDot, true);
    }
    // Written now: the store outlives this function and the application.
    if (auto settings = std::dynamic_pointer_cast<orvane::linuxbackend::QSettingsPreferences>(
            desktop.services->preferences)) {
        settings->sync();
    }
    return 0;
}
