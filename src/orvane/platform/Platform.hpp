#pragma once

#include "orvane/platform/AccessibilityService.hpp"
#include "orvane/platform/CameraService.hpp"
#include "orvane/platform/Clock.hpp"
#include "orvane/platform/DesktopBridge.hpp"
#include "orvane/platform/DesktopConventions.hpp"
#include "orvane/platform/Displays.hpp"
#include "orvane/platform/FaceDetector.hpp"
#include "orvane/platform/FileSystem.hpp"
#include "orvane/platform/HotKeys.hpp"
#include "orvane/platform/InputDeviceAccess.hpp"
#include "orvane/platform/InputMonitor.hpp"
#include "orvane/platform/LogSink.hpp"
#include "orvane/platform/LoginItems.hpp"
#include "orvane/platform/MainQueue.hpp"
#include "orvane/platform/PlatformWords.hpp"
#include "orvane/platform/PreferencesStore.hpp"
#include "orvane/platform/ProcessInfo.hpp"
#include "orvane/platform/SecureInput.hpp"
#include "orvane/platform/SerialQueue.hpp"
#include "orvane/platform/TerminalMultiplexer.hpp"
#include "orvane/platform/UiToolkit.hpp"
#include "orvane/platform/WindowServer.hpp"
#include "orvane/platform/Workspace.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvane {

// The application's identifier, used as the log subsystem, queue-label prefix and D-Bus name.
inline constexpr const char* kApplicationIdentifier = "net.orvane.Orvane";

// The operating-system services the components use. A backend fills in what it offers; a
// service it does not offer stays null, and using it is a programming error.
struct Platform {
    std::shared_ptr<Clock> clock;
    std::shared_ptr<MainQueue> mainQueue;
    std::shared_ptr<SerialQueueFactory> serialQueues;
    std::shared_ptr<Displays> displays;
    std::shared_ptr<WindowServer> windowServer;
    std::shared_ptr<AccessibilityService> accessibility;
    std::shared_ptr<Workspace> workspace;
    std::shared_ptr<InputMonitor> inputMonitor;
    // Where the desktop shows too little of other programs' input: reading the devices instead,
    // if the user allows it. Null where the desktop shows it all.
    std::shared_ptr<InputDeviceAccess> inputDevices;
    std::shared_ptr<HotKeys> hotKeys;
    std::shared_ptr<SecureInput> secureInput;
    // Split panes of a multiplexer inside a terminal; null where the platform has no way to
    // reach one.
    std::shared_ptr<TerminalMultiplexer> terminalMultiplexer;
    std::shared_ptr<CameraService> camera;
    std::shared_ptr<FaceDetector> faceDetector;
    std::shared_ptr<PreferencesStore> preferences;
    std::shared_ptr<FileSystem> fileSystem;
    std::shared_ptr<LogSink> logSink;
    std::shared_ptr<ProcessInfo> processInfo;
    std::shared_ptr<UiToolkit> uiToolkit;
    // Starting with the desktop session.
    std::shared_ptr<LoginItems> loginItems;
    // Launchers, terminals and the copy chord of this desktop; null: the built-in tables and
    // Command+C alone.
    std::shared_ptr<const DesktopConventions> desktopConventions;
    // The platform's own words for permissions, the hot key and the overview.
    std::shared_ptr<const PlatformWords> words;
    // Where the desktop is reached through a helper running inside it (Wayland): that helper,
    // the dot it draws and its status icon. Null where Orvane reaches the desktop directly.
    std::shared_ptr<DesktopBridge> desktopBridge;
    std::shared_ptr<GazeDotSurface> gazeDot;
    std::shared_ptr<StatusIndicator> statusIndicator;
    // What the backend adds to the desktop for Orvane (an extension, a script, a key binding, a
    // permission) and who else may use it, one sentence each, for the diagnostics report.
    std::vector<std::string> exposure;
    // Set when this desktop session keeps Orvane from moving focus between other programs'
    // windows at all: one sentence that says so and what to do instead. Empty where it can.
    std::string unsupportedSession;
    // What this build of the platform was made without ("Wayland support"), one phrase each,
    // for the log and the diagnostics report. Empty for a full build.
    std::vector<std::string> absentFeatures;
};

// The installed services. Aborts with a message when nothing is installed: every entry point
// (the app, each test) installs a platform first.
Platform& platform();

bool hasPlatform();

// Increases with every installation, so process-wide singletons built over one platform
// (the calibration store, the preferences) know to rebuild over the next.
std::uint64_t platformGeneration();

// Installs `services` for its lifetime and restores the previous installation afterwards.
// Main thread, at start-up or at the start of a test.
class PlatformInstallation {
public:
    explicit PlatformInstallation(std::shared_ptr<Platform> services);
    ~PlatformInstallation();
    PlatformInstallation(const PlatformInstallation&) = delete;
    PlatformInstallation& operator=(const PlatformInstallation&) = delete;

private:
    std::shared_ptr<Platform> previous_;
};

// The log sink of the installed platform, or null; safe from any thread, also while another
// thread installs a platform.
std::shared_ptr<LogSink> currentLogSink();

// A backend's error line with no caller to tell: to the installed platform's log, or to
// standard error while there is none.
void logPlatformError(const std::string& text);

} // namespace orvane
