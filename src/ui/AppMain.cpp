// Orvane's entry point: the camera probe, the diagnostics report, or the tray application.

#include "backends/linux/JournaldLogSink.hpp"
#include "backends/linux/LinuxPlatform.hpp"
#include "backends/linux/LinuxProcessInfo.hpp"
#include "backends/linux/ProcessExit.hpp"
#include "backends/linux/SessionChoice.hpp"
#include "backends/linux/atspi/AtspiAccessibility.hpp"
#include "backends/linux/atspi/AtspiWorker.hpp"
#include "orvane/app/CalibrationCoordinator.hpp"
#include "orvane/engine/GazeEngine.hpp"
#include "orvane/platform/SerialQueue.hpp"
#include "orvane/support/CameraProbe.hpp"
#include "orvane/support/Diagnostics.hpp"
#include "orvane/support/GazeReport.hpp"
#include "orvane/support/InstanceHolder.hpp"
#include "orvane/support/LaunchArguments.hpp"
#include "orvane/support/Log.hpp"
#include "orvane/support/Relaunch.hpp"
#include "ui/AppDelegate.hpp"
#include "ui/SingleInstance.hpp"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <iostream>
#include <optional>
#include <string>
#include <sys/signalfd.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

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

// Windows and panes are found through the accessibility bus. When it ends, libatspi cannot
// follow the session to a new one: once one is up, a fresh copy of Orvane connects to it, after
// any calibration in progress. Returns the backend to stop watching with, if it is AT-SPI's.
std::shared_ptr<orvane::linuxbackend::AtspiAccessibility>
watchAccessibilityBus(const std::shared_ptr<orvane::AccessibilityService>& service,
                      std::weak_ptr<orvane::CalibrationCoordinator> coordinator) {
    using orvane::linuxbackend::AtspiAccessibility;
    auto atspi = std::dynamic_pointer_cast<AtspiAccessibility>(service);
    if (!atspi) {
        return nullptr;
    }
    atspi->setBusWatch([coordinator](AtspiAccessibility::BusChange change) {
        if (change == AtspiAccessibility::BusChange::lost) {
            orvane::Log::error("the accessibility bus went away: focusing waits until it is back");
            return;
        }
        orvane::Log::info("the accessibility bus is back: restarting Orvane to reconnect to it");
        if (auto running = coordinator.lock()) {
            running->whenIdle([] { orvane::Relaunch::now(); });
        }
    });
    return atspi;
}

// An exit() while the event loop runs (Qt calls it when the X server goes away) would take the
// process down under the running engine: its camera and input threads would still run while
// the static objects they use are destroyed. This stops them first, in an exit handler, on
// the main thread; the exit status stays whatever the caller gave.
class ExitWhileRunning {
public:
    explicit ExitWhileRunning(std::function<void()> stop) {
        // Set before the handler is registered: exit destroys them after it has run.
        pending() = std::move(stop);
        mainThread() = std::this_thread::get_id();
        static const bool registered = std::atexit(&ExitWhileRunning::atExit) == 0;
        if (!registered) {
            disarm();
        }
    }
    ~ExitWhileRunning() { disarm(); }
    ExitWhileRunning(const ExitWhileRunning&) = delete;
    ExitWhileRunning& operator=(const ExitWhileRunning&) = delete;
    void disarm() { pending() = nullptr; }

private:
    static std::function<void()>& pending() {
        static std::function<void()> stop;
        return stop;
    }
    static std::thread::id& mainThread() {
        static std::thread::id id;
        return id;
    }
    static void atExit() {
        // From another thread the main thread still runs on: nothing of it may be touched.
        if (std::this_thread::get_id() != mainThread()) {
            return;
        }
        if (auto stop = std::exchange(pending(), nullptr)) {
            stop();
        }
    }
};

// Both report modes work without a display: what needs one is reported as missing.
int runReport(int argc, char** argv, const orvane::LaunchMode& mode) {
    orvane::linuxbackend::QtLoopWithoutGLib withoutGLib;
    QCoreApplication application(argc, argv);
    withoutGLib.restore();
    nameApplication();
    auto desktop = orvane::linuxbackend::makeLinuxPlatform();
    logToTerminalToo(*desktop.services);
    // A report is read once: it waits for the accessibility bus as a reader would, not the
    // few milliseconds a pose can spare (the first answer starts libatspi).
    orvane::linuxbackend::AtspiAccessibility::setAnswerBudget(std::chrono::seconds(1));
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
    // Whether Orvane can work here is the report's to say, a missing desktop or an unsupported
    // session included: the status only tells whether the report got out.
    std::cout.flush();
    return std::cout ? 0 : 1;
}

// The pause toggle a compositor's key binding runs: asks the running Orvane, starts nothing.
int runTogglePause(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    using Toggle = orvane::ui::SingleInstance::Toggle;
    switch (orvane::ui::SingleInstance::askToTogglePause()) {
    case Toggle::toggled:
        return 0;
    case Toggle::notRunning:
        std::fprintf(stderr, "Orvane is not running.\n");
        return 1;
    case Toggle::unanswered:
        std::fprintf(stderr, "Orvane is running but does not answer.\n");
        return 1;
    case Toggle::heldByOther:
        std::fprintf(stderr, "Another program holds Orvane's name on the session bus.\n");
        return 1;
    case Toggle::noSessionBus:
        std::fprintf(stderr, "There is no session bus: the running Orvane cannot be reached.\n");
        return 1;
    }
    return 1;
}

int runApplication(int argc, char** argv, const orvane::LaunchMode& mode) {
    blockStopSignals();
    const auto session = orvane::linuxbackend::chooseSession(
        [](const char* variable) { return std::getenv(variable); });
    using orvane::linuxbackend::DesktopFamily;
    const bool wayland =
        session.family != DesktopFamily::x11 && session.family != DesktopFamily::unsupported;
    // Qt ends the process when it cannot reach its display: ask first, and say it plainly. On
    // the Wayland desktops Orvane knows, the compositor is reached by its own backend, and Qt
    // may take Wayland itself.
    const bool x11Display = orvane::linuxbackend::canOpenX11Display();
    if (!x11Display && !wayland) {
        const char* name = std::getenv("DISPLAY");
        const std::string& unsupported = session.reason;
        if (!unsupported.empty()) {
            std::fprintf(stderr, "%s\n", unsupported.c_str());
        } else if (name == nullptr || *name == '\0') {
            std::fprintf(stderr, "Orvane needs an X11 desktop session, and DISPLAY is not set.\n");
        } else {
            std::fprintf(stderr,
                         "Orvane needs an X11 desktop session, and the display \"%s\" could not "
                         "be opened.\n",
                         name);
        }
        return 1;
    }
    // In an X11 session Orvane moves focus between X11 windows: its own windows must be X11
    // windows too, even where Qt would prefer Wayland. In a Wayland session they are Wayland
    // windows, placed on their outputs by the compositor, though XWayland is there too.
    if (x11Display && !wayland && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    orvane::linuxbackend::QtLoopWithoutGLib withoutGLib;
    QApplication application(argc, argv);
    withoutGLib.restore();
    nameApplication();
    // Lets the desktop match our windows to the installed entry and its icon.
    QGuiApplication::setDesktopFileName("net.orvane.Orvane");
    // Orvane lives in the tray: closing its last window does not quit it.
    QApplication::setQuitOnLastWindowClosed(false);

    orvane::ui::AppDelegate* delegate = nullptr;
    auto instance = std::make_unique<orvane::ui::SingleInstance>(
        [&delegate] {
            if (delegate) {
                delegate->activate();
            }
        },
        [&delegate] {
            if (delegate) {
                delegate->togglePause();
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
    case orvane::ui::SingleInstance::Claim::heldByOther:
        std::fprintf(stderr, "%s\n",
                     orvane::InstanceHolder::heldByAnotherProgram(instance->holder(),
                                                                  instance->holderExecutable())
                         .c_str());
        return 1;
    case orvane::ui::SingleInstance::Claim::noSessionBus:
        std::fprintf(stderr, "There is no session bus: Orvane cannot tell whether it is "
                             "already running, and starts anyway.\n");
        break;
    }

    auto desktop = orvane::linuxbackend::makeLinuxPlatform();
    if (!desktop.desktopProblem.empty()) {
        std::fprintf(stderr, "Orvane cannot reach this desktop: %s\n",
                     desktop.desktopProblem.c_str());
        return 1;
    }
    logToTerminalToo(*desktop.services);
    // The engine logs it; where the log does not reach standard error, it is said there too.
    const auto sink =
        std::dynamic_pointer_cast<orvane::linuxbackend::JournaldLogSink>(desktop.services->logSink);
    if (!desktop.services->unsupportedSession.empty() && sink && !sink->writesToFallback()) {
        std::fprintf(stderr, "%s\n", desktop.services->unsupportedSession.c_str());
    }
    orvane::PlatformInstallation installation(desktop.services);
    for (const auto& feature : desktop.services->absentFeatures) {
        orvane::Log::info("built without " + feature);
    }
    QuitOnSignals quitOnSignals(application);

    std::vector<std::shared_ptr<orvane::SerialQueue>> cameraQueues;
    {
        orvane::ui::AppDelegate appDelegate;
        delegate = &appDelegate;
        orvane::Relaunch::setTerminate([] { QCoreApplication::quit(); });
        appDelegate.showInTray();
        // The tray is asked to take the icon only once Qt's requests reach the display server,
        // which the event loop would do after the engine's start, itself long.
        QGuiApplication::sync();
        const auto busWatch =
            watchAccessibilityBus(desktop.services->accessibility, appDelegate.coordinator);
        if (const auto elapsed = orvane::linuxbackend::secondsSinceProcessStart()) {
            char text[64];
            std::snprintf(text, sizeof text, "in the tray %.2f s after start", *elapsed);
            orvane::Log::info(text);
        }
        std::optional<orvane::GazeStatus> shown;
        orvane::Subscription statusLog;
        std::unique_ptr<orvane::GazeReport> report;
        // The engine starts from the event loop, once the icon has been handed to the tray:
        // opening the camera (a clip loads FFmpeg's libraries) takes as long again as
        // everything before it.
        QTimer::singleShot(0, &application, [&] {
            appDelegate.startEngine();
            // Watched from here on: the status an engine has before it starts says nothing yet.
            statusLog =
                appDelegate.engine->status.subscribe([&shown](const orvane::GazeStatus& status) {
                    if (shown != status) {
                        shown = status;
                        orvane::Log::info("status: " + orvane::describe(status));
                    }
                });
            if (mode.reportsGaze) {
                report = std::make_unique<orvane::GazeReport>(
                    appDelegate.engine,
                    [](const std::string& line) { std::cout << line << std::endl; });
            }
        });

        ExitWhileRunning exitWhileRunning([&appDelegate] {
            // Qt's answer to a broken display connection: exit(1) from inside the event loop.
            orvane::Log::error(orvane::linuxbackend::canOpenX11Display()
                                   ? "ending while running: stopping first"
                                   : "lost the connection to the X server: stopping");
            appDelegate.applicationWillTerminate();
            drainCameras(appDelegate.cameraQueues());
            orvane::Log::info("Orvane stopped");
        });
        QApplication::exec();
        exitWhileRunning.disarm();
        report.reset();

        if (busWatch) {
            busWatch->setBusWatch(nullptr);
        }
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
    if (mode.kind == orvane::LaunchMode::Kind::togglePause) {
        return runTogglePause(argc, argv);
    }
    if (mode.kind != orvane::LaunchMode::Kind::application) {
        return runReport(argc, argv, mode);
    }
    // A relaunch: the old Orvane must be gone first, or it would turn this one away. (Neither
    // init nor this process ever ends before we start.)
    if (mode.afterProcess && *mode.afterProcess != 1 && *mode.afterProcess != ::getpid()) {
        orvane::linuxbackend::waitForProcessExit(static_cast<pid_t>(*mode.afterProcess),
                                                 relaunchWait);
    }
    return runApplication(argc, argv, mode);
}
