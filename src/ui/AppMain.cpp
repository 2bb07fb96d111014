// Orvane's entry point: the camera probe, the diagnostics report, or the tray application.

#include "backends/linux/JournaldLogSink.hpp"
#include "backends/linux/LinuxPlatform.hpp"
#include "backends/linux/ProcessExit.hpp"
#include "orvane/engine/GazeEngine.hpp"
#include "orvane/platform/SerialQueue.hpp"
#include "orvane/support/CameraProbe.hpp"
#include "orvane/support/Diagnostics.hpp"
#include "orvane/support/LaunchArguments.hpp"
#include "orvane/support/Log.hpp"
#include "orvane/support/Relaunch.hpp"
#include "ui/AppDelegate.hpp"
#include "ui/SingleInstance.hpp"

#include <QApplication>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <iostream>
#include <optional>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>
#include <vector>
// Last: its macros would clash with the names above.
#include <X11/Xlib.h>

namespace {

// A relaunched copy gives the old one this long to quit before starting anyway.
constexpr std::chrono::seconds relaunchWait{10};
// How long the cameras may take to deliver their last frame once everything is stopped.
constexpr std::chrono::seconds cameraDrainLimit{5};

void nameApplication() {
    QCoreApplication::setApplicationName("Orvane");
    QCoreApplication::setOrganizationName("Orvane");
}

// Whoever runs Orvane from a terminal sees its log there too.
void logToTerminalToo(orvane::Platform& services) {
    services.logSink =
        std::make_shared<orvane::linuxbackend::JournaldLogSink>(stderr, true, ::isatty(2) == 1);
}

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// Blocked before any thread starts, so that every thread inherits the mask: otherwise the
// kernel hands the signal to a thread that does not block it, and its default action ends the
// process on the spot.
void blockStopSignals() {
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// SIGINT and SIGTERM (blocked by `blockStopSignals`) end the event loop on the main thread,
// so everything stops cleanly.
class QuitOnSignals {
public:
    explicit QuitOnSignals(QCoreApplication& application) {
        const sigset_t set = stopSignals();
        descriptor_ = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
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

// The platform goes once the caller returns, so nothing of the cameras may still run by then:
// their last frames, their sessions' stop and release all run on their queues before the
// marker does.
void drainCameras(const std::vector<std::shared_ptr<orvane::SerialQueue>>& queues) {
    const auto deadline = std::chrono::steady_clock::now() + cameraDrainLimit;
    for (const auto& queue : queues) {
        if (!queue) {
            continue;
        }
        auto drained = std::make_shared<std::promise<void>>();
        auto done = drained->get_future();
        queue->async([drained] { drained->set_value(); });
        if (done.wait_until(deadline) != std::future_status::ready) {
            orvane::Log::error("the camera did not stop in time");
            return;
        }
    }
}

// Both report modes work without a display: what needs one is reported as missing.
int runReport(int argc, char** argv, const orvane::LaunchMode& mode) {
    QCoreApplication application(argc, argv);
    nameApplication();
    auto desktop = orvane::linuxbackend::makeLinuxPlatform();
    logToTerminalToo(*desktop.services);
    orvane::PlatformInstallation installation(desktop.services);
    if (mode.kind == orvane::LaunchMode::Kind::probeCamera) {
        orvane::CameraProbe::run(mode.probeSeconds, std::cout);
        return 0;
    }
    if (!desktop.desktopProblem.empty()) {
        std::fprintf(stderr,
                     "Orvane sees no desktop: %s. The screens, accessibility and guards below "
                     "are what can be said without one.\n",
                     desktop.desktopProblem.c_str());
    }
    orvane::Diagnostics::run(std::cout);
    return 0;
}

bool canOpenDisplay() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    XCloseDisplay(display);
    return true;
}

int runApplication(int argc, char** argv) {
    blockStopSignals();
    // Qt ends the process when it cannot reach its display: ask first, and say it plainly.
    if (!canOpenDisplay()) {
        const char* name = std::getenv("DISPLAY");
        if (name == nullptr || *name == '\0') {
            std::fprintf(stderr, "Orvane needs an X11 desktop session, and DISPLAY is not set.\n");
        } else {
            std::fprintf(stderr,
                         "Orvane needs an X11 desktop session, and the display \"%s\" could not "
                         "be opened.\n",
                         name);
        }
        return 1;
    }
    // Orvane moves focus between X11 windows: its own windows must be X11 windows too, even
    // where Qt would prefer Wayland.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication application(argc, argv);
    nameApplication();
    // Orvane lives in the tray: closing its last window does not quit it.
    QApplication::setQuitOnLastWindowClosed(false);

    orvane::ui::AppDelegate* delegate = nullptr;
    auto instance = std::make_unique<orvane::ui::SingleInstance>([&delegate] {
        if (delegate) {
            delegate->activate();
        }
    });
    switch (instance->claim()) {
    case orvane::ui::SingleInstance::Claim::first:
        break;
    case orvane::ui::SingleInstance::Claim::handedOver:
        return 0;
    case orvane::ui::SingleInstance::Claim::unanswered:
        std::fprintf(stderr, "Orvane is already running but does not answer.\n");
        return 1;
    case orvane::ui::SingleInstance::Claim::noSessionBus:
        std::fprintf(stderr, "There is no session bus: Orvane cannot tell whether it is "
                             "already running, and starts anyway.\n");
        break;
    }

    auto desktop = orvane::linuxbackend::makeLinuxPlatform();
    if (!desktop.desktopProblem.empty()) {
        std::fprintf(stderr, "Orvane needs an X11 desktop session: %s\n",
                     desktop.desktopProblem.c_str());
        return 1;
    }
    logToTerminalToo(*desktop.services);
    orvane::PlatformInstallation installation(desktop.services);
    QuitOnSignals quitOnSignals(application);

    std::vector<std::shared_ptr<orvane::SerialQueue>> cameraQueues;
    {
        orvane::ui::AppDelegate appDelegate;
        delegate = &appDelegate;
        orvane::Relaunch::setTerminate([] { QCoreApplication::quit(); });
        appDelegate.applicationDidFinishLaunching();
        // Watched from here on: the status an engine has before it starts says nothing yet.
        std::optional<orvane::GazeStatus> shown;
        auto statusLog =
            appDelegate.engine->status.subscribe([&shown](const orvane::GazeStatus& status) {
                if (shown != status) {
                    shown = status;
                    orvane::Log::info("status: " + orvane::describe(status));
                }
            });

        QApplication::exec();

        // A start from now on is a new Orvane, not a request to this one.
        delegate = nullptr;
        instance.reset();
        orvane::Relaunch::setTerminate(nullptr);
        appDelegate.applicationWillTerminate();
        cameraQueues = appDelegate.cameraQueues();
        statusLog.reset();
        appDelegate.release();
    }
    drainCameras(cameraQueues);
    orvane::Log::info("Orvane stopped");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Decided before Qt or X is touched.
    const auto mode = orvane::LaunchMode::parse(std::vector<std::string>(argv, argv + argc));
    if (mode.kind != orvane::LaunchMode::Kind::application) {
        return runReport(argc, argv, mode);
    }
    // A relaunch: the old Orvane must be gone first, or it would turn this one away. (Neither
    // init nor this process ever ends before we start.)
    if (mode.afterProcess && *mode.afterProcess != 1 && *mode.afterProcess != ::getpid()) {
        orvane::linuxbackend::waitForProcessExit(static_cast<pid_t>(*mode.afterProcess),
                                                 relaunchWait);
    }
    return runApplication(argc, argv);
}
