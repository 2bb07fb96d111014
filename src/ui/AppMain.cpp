// Orvane's entry point. Head tracking, focus switching and the tray icon are being built; until
// they arrive, a run reports what Orvane has stored and sees, and exits.

#include "backends/linux/LinuxPlatform.hpp"
#include "orvane/calibration/CalibrationStore.hpp"
#include "orvane/support/Prefs.hpp"

#include <QCoreApplication>
#include <cstdio>
#include <string>

namespace {

void print(const std::string& line) {
    std::printf("%s\n", line.c_str());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName("Orvane");
    QCoreApplication::setOrganizationName("Orvane");

    auto desktop = orvane::linuxbackend::makeLinuxPlatform();
    orvane::PlatformInstallation installation(desktop.services);

    print("Orvane " + std::string(ORVANE_VERSION));
    print("Head tracking and focus switching are not part of this build yet; this run reports "
          "the stored state and exits.");

    const auto& store = orvane::CalibrationStore::shared();
    const auto& location = store.fileLocation();
    print("  calibration file:  " + (location ? location->string() : std::string("(none)")));
    print("  samples:           " + std::to_string(store.samples().size()));
    if (const auto& model = store.model()) {
        print("  model:             fitted from " + std::to_string(model->sampleCount) +
              " samples, mean error " + std::to_string(static_cast<long long>(model->meanError)) +
              "pt");
    } else {
        print("  model:             none (calibration needed)");
    }
    print("  recorded layout:   " +
          (store.layoutSignature().empty() ? std::string("(none)") : store.layoutSignature()));
    if (desktop.services->displays) {
        print("  current layout:    " + orvane::CalibrationStore::currentLayoutSignature());
        for (const auto& display : desktop.services->displays->screens()) {
            const auto& f = display.frame;
            print(
                "  display:           " +
                (display.localizedName.empty() ? std::string("(unnamed)") : display.localizedName) +
                " at " + std::to_string(static_cast<long long>(f.x)) + "," +
                std::to_string(static_cast<long long>(f.y)) + " size " +
                std::to_string(static_cast<long long>(f.width)) + "x" +
                std::to_string(static_cast<long long>(f.height)));
        }
    } else {
        print("  current layout:    unknown (" + desktop.desktopProblem + ")");
    }

    const auto& prefs = orvane::Prefs::shared();
    print("  settle time:       " + std::to_string(prefs.settleMilliseconds()) + " ms");
    print("  camera:            " + prefs.cameraID().value_or("automatic"));
    return 0;
}
