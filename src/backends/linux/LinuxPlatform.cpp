#include "backends/linux/LinuxPlatform.hpp"

#include "backends/linux/JournaldLogSink.hpp"
#include "backends/linux/LinuxProcessInfo.hpp"
#include "backends/linux/LinuxWords.hpp"
#include "backends/linux/QSettingsPreferences.hpp"
#include "backends/linux/SessionChoice.hpp"
#include "backends/linux/TmuxPanes.hpp"
#include "backends/linux/VisionModule.hpp"
#include "backends/linux/freedesktop/XdgLoginItems.hpp"
#include "backends/linux/runtime/LinuxClock.hpp"
#include "backends/linux/runtime/QtMainQueue.hpp"
#include "backends/linux/runtime/ThreadSerialQueue.hpp"
#include "backends/posix/PosixFileSystem.hpp"

// The desktop families this build has.
#if ORVANE_WITH_EVDEV
#include "backends/linux/evdev/EvdevInputOption.hpp"
#endif
#if ORVANE_WITH_WAYLAND
#include "backends/linux/wayland/gnome/GnomeDesktop.hpp"
#include "backends/linux/wayland/hyprland/HyprlandDesktop.hpp"
#include "backends/linux/wayland/kwin/KWinDesktop.hpp"
#include "backends/linux/wayland/sway/SwayDesktop.hpp"
#include "backends/linux/wayland/wlroots/WlrootsDesktop.hpp"
#endif
#if ORVANE_WITH_X11
#include "backends/linux/x11/X11Desktop.hpp"
#endif

#include <cstdlib>

namespace orvane::linuxbackend {

LinuxPlatformResult makeLinuxPlatform() {
    auto services = std::make_shared<Platform>();
    auto clock = std::make_shared<LinuxClock>();
    services->clock = clock;
    services->mainQueue = std::make_shared<QtMainQueue>(clock);
    services->serialQueues = std::make_shared<ThreadSerialQueueFactory>();
    services->preferences = std::make_shared<QSettingsPreferences>();
    services->fileSystem = std::make_shared<posix::PosixFileSystem>(
        posix::xdgDataHome([](const char* name) { return std::getenv(name); }));
    services->logSink = std::make_shared<JournaldLogSink>();
    services->processInfo = std::make_shared<LinuxProcessInfo>();
    services->loginItems = makeLinuxLoginItems();
    // tmux is reached through its own commands whatever the desktop: it needs only a
    // terminal's process.
    services->terminalMultiplexer = std::make_shared<TmuxPanes>();
    // Cameras and the face pipeline need no display: the probe runs without one. Their module
    // is opened at their first use, once the tray icon shows.
    const VisionModule vision(VisionModule::defaultPaths(), [](const std::string& problem) {
        // A camera failing while it streams has no caller to tell: the log is told.
        if (auto sink = currentLogSink()) {
            sink->write(LogLevel::error, kApplicationIdentifier, "core", problem);
        }
    });
    services->camera = vision.cameraService();
    services->faceDetector = vision.faceDetector();
    services->words = std::make_shared<const PlatformWords>(linuxWords());
    const auto session = chooseSession([](const char* name) { return std::getenv(name); });
    services->unsupportedSession = session.reason;

    services->absentFeatures = absentFeatures();

    LinuxPlatformResult result{services, {}};
    // chooseSession picks only among the families built here: the others never get this far.
    switch (session.family) {
#if ORVANE_WITH_WAYLAND
    // A shell without Orvane's extension is still GNOME's desktop: the onboarding tells what
    // to do through the desktop bridge, so that is no desktop problem.
    case DesktopFamily::gnome:
        installGnomeDesktop(*services, &result.desktopProblem);
        break;
    case DesktopFamily::kwin:
        installKWinDesktop(*services, &result.desktopProblem);
        break;
    case DesktopFamily::sway:
        installSwayDesktop(*services, &result.desktopProblem);
        break;
    case DesktopFamily::hyprland:
        installHyprlandDesktop(*services, &result.desktopProblem);
        break;
    case DesktopFamily::wlroots:
        installWlrootsDesktop(*services, &result.desktopProblem);
        break;
#endif
    default:
        // X11, and the sessions Orvane cannot work with, whose X server (XWayland) still
        // lets it show why.
#if ORVANE_WITH_X11
        installX11Desktop(*services, &result.desktopProblem);
#else
        result.desktopProblem = "this Orvane was built without X11 support";
#endif
        break;
    }
    return result;
}

bool canOpenX11Display() {
#if ORVANE_WITH_X11
    return x11DisplayOpens();
#else
    return false;
#endif
}

} // namespace orvane::linuxbackend
