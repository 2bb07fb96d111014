// Orvane's entry point: the camera probe, the stored-state report, or the gaze engine itself.

#include "backends/linux/JournaldLogSink.hpp"
#include "backends/linux/LinuxPlatform.hpp"
#include "orvane/calibration/CalibrationStore.hpp"
#include "orvane/engine/GazeEngine.hpp"
#include "orvane/support/CameraProbe.hpp"
#include "orvane/support/LaunchArguments.hpp"
#include "orvane/support/Log.hpp"
#include "orvane/support/Prefs.hpp"
#include "plinth/Numeric.hpp"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <future>
#include <iostream>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>
#include <vector>

namespace {

void print(const std::string& line) {
    std::printf("%s\n", line.c_str());
}

std::string integerText(double value) {
    return std::to_string(plinth::truncatedToInt64(value));
}

// What Orvane has stored and what it sees now.
void reportState(const orvane::linuxbackend::LinuxPlatformResult& desktop) {
    print("Orvane " + std::string(ORVANE_VERSION));
    const auto& store = orvane::CalibrationStore::shared();
    const auto& location = store.fileLocation();
    print("  calibration file:  " + (location ? location->string() : std::string("(none)")));
    print("  samples:           " + std::to_string(store.samples().size()));
    if (const auto& model = store.model()) {
        print("  model:             fitted from " + std::to_string(model->sampleCount) +
              " samples, mean error " + integerText(model->meanError) + "pt");
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
                " at " + integerText(f.x) + "," + integerText(f.y) + " size " +
                integerText(f.width) + "x" + integerText(f.height));
        }
    } else {
        print("  current layout:    unknown (" + desktop.desktopProblem + ")");
    }
    const auto& prefs = orvane::Prefs::shared();
    print("  settle time:       " + std::to_string(prefs.settleMilliseconds()) + " ms");
    print("  camera:            " + prefs.cameraID().value_or("automatic"));
}

// SIGINT and SIGTERM end the event loop on the main thread, so the engine stops cleanly.
class QuitOnSignals {
public:
    explicit QuitOnSignals(QCoreApplication& application) {
        sigset_t stopSignals;
        sigemptyset(&stopSignals);
        sigaddset(&stopSignals, SIGINT);
        sigaddset(&stopSignals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
        descriptor_ = ::signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
        if (descriptor_ < 0) {
            return;
        }
        notifier_ = new QSocketNotifier(descriptor_, QSocketNotifier::Read, &application);
        QObject::connect(notifier_, &QSocketNotifier::activated, &application, [this] {
            signalfd_siginfo info{};
            while (::read(descriptor_, &info, sizeof info) == sizeof info) {
            }
            QCoreApplication::quit();
        });
    }
    ~QuitOnSignals() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
    }
    QuitOnSignals(const QuitOnSignals&) = delete;
    QuitOnSignals& operator=(const QuitOnSignals&) = delete;

private:
    int descriptor_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};

int runEngine(QCoreApplication& application,
              const orvane::linuxbackend::LinuxPlatformResult& desktop) {
    if (!desktop.desktopProblem.empty()) {
        std::fprintf(stderr, "Orvane needs an X11 desktop session: %s\n",
                     desktop.desktopProblem.c_str());
        return 1;
    }
    QuitOnSignals quitOnSignals(application);
    auto engine = orvane::GazeEngine::make();
    orvane::Log::info("Orvane started");
    engine->start();
    // Watched from here on: the status an engine has before it starts says nothing yet.
    std::optional<orvane::GazeStatus> shown;
    auto statusLog = engine->status.subscribe([&shown](const orvane::GazeStatus& status) {
        if (shown != status) {
            shown = status;
            orvane::Log::info("status: " + orvane::describe(status));
        }
    });
    QCoreApplication::exec();
    engine->stop();
    // The platform goes once this returns, so nothing of the camera may still run by then:
    // its last frame, its session's stop and, once the engine is gone, the session's release
    // all run on the camera's queue before the marker does.
    const auto cameraQueue = engine->camera().queue();
    engine.reset();
    auto drained = std::make_shared<std::promise<void>>();
    cameraQueue->async([drained] { drained->set_value(); });
    if (drained->get_future().wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        orvane::Log::error("the camera did not stop in time");
    }
    orvane::Log::info("Orvane stopped");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const auto mode = orvane::LaunchMode::parse(std::vector<std::string>(argv, argv + argc));

    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName("Orvane");
    QCoreApplication::setOrganizationName("Orvane");

    auto desktop = orvane::linuxbackend::makeLinuxPlatform();
    // Whoever runs Orvane from a terminal sees what it does there too.
    desktop.services->logSink =
        std::make_shared<orvane::linuxbackend::JournaldLogSink>(stderr, true, ::isatty(2) == 1);
    orvane::PlatformInstallation installation(desktop.services);

    switch (mode.kind) {
    case orvane::LaunchMode::Kind::probeCamera:
        orvane::CameraProbe::run(mode.probeSeconds, std::cout);
        return 0;
    case orvane::LaunchMode::Kind::diagnose:
        reportState(desktop);
        return 0;
    case orvane::LaunchMode::Kind::application:
        break;
    }
    return runEngine(application, desktop);
}
