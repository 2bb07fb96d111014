#pragma once

#include "backends/posix/PosixFileSystem.hpp"
#include "backends/sim/CapturingLogSink.hpp"
#include "backends/sim/InMemoryPreferences.hpp"
#include "backends/sim/ManualMainQueue.hpp"
#include "backends/sim/ManualSerialQueue.hpp"
#include "backends/sim/SimAccessibility.hpp"
#include "backends/sim/SimCamera.hpp"
#include "backends/sim/SimClock.hpp"
#include "backends/sim/SimDisplays.hpp"
#include "backends/sim/SimFaceDetector.hpp"
#include "backends/sim/SimHotKeys.hpp"
#include "backends/sim/SimInputMonitor.hpp"
#include "backends/sim/SimLoginItems.hpp"
#include "backends/sim/SimProcessInfo.hpp"
#include "backends/sim/SimSecureInput.hpp"
#include "backends/sim/SimTerminalMultiplexer.hpp"
#include "backends/sim/SimUiToolkit.hpp"
#include "backends/sim/SimWindowServer.hpp"
#include "backends/sim/SimWorkspace.hpp"
#include "backends/sim/VirtualHead.hpp"
#include "orvane/platform/Platform.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace orvane::sim {

// A whole simulated desktop, installed as the platform for as long as the object lives: a
// virtual clock, a hand-driven main queue, serial queues drained by hand, displays, in-memory
// preferences, captured log records, a real temporary directory as the application-support
// directory (removed afterwards), a window server, accessibility trees, running applications,
// input monitors, the secure-input flag, a camera (one device, access authorised) and a face
// detector that sees a virtual head (visible, looking straight ahead). One per test:
//
//     sim::SimDesktop desktop;
//     desktop.displays->setFrames({{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}});
//     desktop.launchApplication(501, "org.example.Editor", "Editor");
//     auto editor = desktop.openWindow(501, {1920, 0, 1200, 800}, "notes.txt");
//     desktop.click({2000, 100});
//     desktop.mainQueue->runPending();
//
// Stories over time play with `run`: the camera's frames, the serial queues and the main
// queue's tasks and timers all take their turn as virtual time passes. With a camera pipeline
// started (an engine, a calibration run, a capture of the test's own):
//
//     desktop.head->turnTo(0.4, 0, 0.5); // the user turns right over half a second
//     desktop.run(2.0);                  // frames -> tracker -> main-thread handlers, in order
//
// The helpers below act on several services at once, as one thing happening on a desktop
// would; the services stay available for anything finer (malformed entries, failing calls).
class SimDesktop {
public:
    SimDesktop();
    ~SimDesktop();
    SimDesktop(const SimDesktop&) = delete;
    SimDesktop& operator=(const SimDesktop&) = delete;

    // Our own sub-directory inside the application-support directory.
    std::filesystem::path applicationDirectory() const { return supportDirectory / "Orvane"; }

    // --- Applications and windows ------------------------------------------------------------

    // A running application that is also reachable through accessibility.
    void launchApplication(pid_t pid, std::string applicationId, std::string name);
    // The application's process ends: its windows and accessibility tree go with it.
    void quitApplication(pid_t pid);

    struct OpenedWindow {
        std::uint32_t number = 0;                // in the window server
        SimAccessibility::ElementID element = 0; // its accessibility window
    };
    // Opens a normal window in front of all others, listed by the window server (owner name
    // from the running application) and among the application's accessibility windows.
    OpenedWindow openWindow(pid_t pid, plinth::Rect frame, std::string title = {});
    // The window closes: gone from the list, its accessibility element stale.
    void closeWindow(const OpenedWindow& window);

    // --- The user's hands ----------------------------------------------------------------------
    // Each delivers one event to the input monitors; the handlers' main-queue tasks run at the
    // next `mainQueue->runPending()`. Points are in the global top-left space.

    void movePointer(plinth::Point global);
    void scroll();
    void click(plinth::Point global, bool rightButton = false);
    void pressKey(Key key, std::uint64_t modifierFlags = 0);
    void changeModifiers(std::uint64_t modifierFlags);

    // --- Time ----------------------------------------------------------------------------------

    // Plays virtual time forward by `seconds`, event by event: at each instant something falls
    // due (a camera frame of a running session, a main-queue timer) the clock moves there,
    // the timers fire, the frames are queued, and then the serial queues and posted main-queue
    // tasks run until all are idle. Ends early when `mainQueue->stop()` is called. The main
    // queue's `runUntil` (the command-line modes' loop) plays the same way.
    void run(double seconds);
    // Runs the serial queues and posted main-queue tasks until none has anything left,
    // without moving the clock.
    void settle();

    const std::filesystem::path supportDirectory;
    const std::shared_ptr<SimClock> clock;
    const std::shared_ptr<ManualMainQueue> mainQueue;
    const std::shared_ptr<ManualSerialQueueFactory> serialQueues;
    const std::shared_ptr<SimDisplays> displays;
    const std::shared_ptr<InMemoryPreferences> preferences;
    const std::shared_ptr<posix::PosixFileSystem> fileSystem;
    const std::shared_ptr<CapturingLogSink> log;
    const std::shared_ptr<SimProcessInfo> processInfo;
    const std::shared_ptr<SimWindowServer> windowServer;
    const std::shared_ptr<SimAccessibility> accessibility;
    const std::shared_ptr<SimWorkspace> workspace;
    const std::shared_ptr<SimInputMonitor> inputMonitor;
    const std::shared_ptr<SimHotKeys> hotKeys;
    const std::shared_ptr<SimSecureInput> secureInput;
    const std::shared_ptr<SimTerminalMultiplexer> terminalMultiplexer;
    const std::shared_ptr<SimCamera> camera;
    const std::shared_ptr<VirtualHead> head;
    const std::shared_ptr<SimFaceDetector> faceDetector;
    // Our own windows (the calibration screens) and activations, as records.
    const std::shared_ptr<SimUiToolkit> uiToolkit;
    const std::shared_ptr<SimLoginItems> loginItems;
    // Tests may change these before the component under test reads them.
    const std::shared_ptr<PlatformWords> words;

    // Everything above, as installed.
    const std::shared_ptr<Platform> services;

private:
    void playUntil(double deadline);

    PlatformInstallation installation_;
};

} // namespace orvane::sim
