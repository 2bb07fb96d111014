#include "backends/sim/SimDesktop.hpp"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>

namespace orvane::sim {
namespace {

std::filesystem::path makeTemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvane-sim-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary directory for the simulated desktop");
    }
    return pattern;
}

std::shared_ptr<Platform> assemble(const SimDesktop& desktop) {
    auto services = std::make_shared<Platform>();
    services->clock = desktop.clock;
    services->mainQueue = desktop.mainQueue;
    services->serialQueues = desktop.serialQueues;
    services->displays = desktop.displays;
    services->preferences = desktop.preferences;
    services->fileSystem = desktop.fileSystem;
    services->logSink = desktop.log;
    services->processInfo = desktop.processInfo;
    services->windowServer = desktop.windowServer;
    services->accessibility = desktop.accessibility;
    services->workspace = desktop.workspace;
    services->inputMonitor = desktop.inputMonitor;
    services->hotKeys = desktop.hotKeys;
    services->secureInput = desktop.secureInput;
    services->terminalMultiplexer = desktop.terminalMultiplexer;
    services->camera = desktop.camera;
    services->faceDetector = desktop.faceDetector;
    services->uiToolkit = desktop.uiToolkit;
    services->loginItems = desktop.loginItems;
    services->words = desktop.words;
    return services;
}

PlatformWords simWords() {
    PlatformWords words;
    words.computer = "computer";
    words.statusArea = "tray";
    words.pauseHotKey = "Shift+Super+G";
    words.settingsShortcut = "Ctrl+,";
    words.quitShortcut = "Ctrl+Q";
    words.relaunchTooltip = "Use this if you have already turned on accessibility";
    words.cameraBody = "Video stays on this computer.";
    words.cameraDenied = "Camera access was denied.";
    words.accessibilityBody = "Switch accessibility on.";
    words.openAccessibilitySettings = "Open Accessibility Settings…";
    words.accessibilitySettingsURL = "settings:accessibility";
    words.relaunchHint = "Relaunching fixes it.";
    words.overviewLabel = "overview";
    words.overviewReason = "desktop overview";
    words.permissionsFollowLauncher = false;
    words.launchedFromTerminalWarning = {"", "WARNING: run from a terminal."};
    words.notTrustedAdvice = {"", "Accessibility is off."};
    return words;
}

} // namespace

SimDesktop::SimDesktop()
    : supportDirectory(makeTemporaryDirectory()), clock(std::make_shared<SimClock>()),
      mainQueue(std::make_shared<ManualMainQueue>(clock)),
      serialQueues(std::make_shared<ManualSerialQueueFactory>()),
      displays(std::make_shared<SimDisplays>()),
      preferences(std::make_shared<InMemoryPreferences>()),
      fileSystem(std::make_shared<posix::PosixFileSystem>(supportDirectory)),
      log(std::make_shared<CapturingLogSink>()), processInfo(std::make_shared<SimProcessInfo>()),
      windowServer(std::make_shared<SimWindowServer>()),
      accessibility(std::make_shared<SimAccessibility>()),
      workspace(std::make_shared<SimWorkspace>()),
      inputMonitor(std::make_shared<SimInputMonitor>()),
      hotKeys(std::make_shared<SimHotKeys>(mainQueue)),
      secureInput(std::make_shared<SimSecureInput>()),
      terminalMultiplexer(std::make_shared<SimTerminalMultiplexer>()),
      camera(std::make_shared<SimCamera>(clock)), head(std::make_shared<VirtualHead>(clock)),
      faceDetector(std::make_shared<SimFaceDetector>(head)),
      uiToolkit(std::make_shared<SimUiToolkit>()), loginItems(std::make_shared<SimLoginItems>()),
      words(std::make_shared<PlatformWords>(simWords())), services(assemble(*this)),
      installation_(services) {
    displays->setFrames({{0, 0, 1920, 1080}});
    workspace->setWindowServer(windowServer);
    mainQueue->setRunner([this](double deadline) { playUntil(deadline); });
}

SimDesktop::~SimDesktop() {
    mainQueue->setRunner(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(supportDirectory, ignored);
}

void SimDesktop::launchApplication(pid_t pid, std::string applicationId, std::string name) {
    workspace->addApplication({pid, std::move(applicationId), std::move(name)});
    accessibility->addApplication(pid);
}

void SimDesktop::quitApplication(pid_t pid) {
    for (const auto& entry : windowServer->entries()) {
        if (entry.number && entry.ownerPid == std::int64_t{pid}) {
            windowServer->closeWindow(static_cast<std::uint32_t>(*entry.number));
        }
    }
    accessibility->removeApplication(pid);
    workspace->removeApplication(pid);
}

SimDesktop::OpenedWindow SimDesktop::openWindow(pid_t pid, plinth::Rect frame, std::string title) {
    const auto application = workspace->runningApplication(pid);
    const std::string owner =
        application && application->localizedName ? *application->localizedName : std::string();
    OpenedWindow window;
    window.number = windowServer->addWindow({pid, 0, frame, 0, owner, std::move(title)});
    window.element = accessibility->addWindow(pid, frame);
    accessibility->bringToFront(window.element);
    return window;
}

void SimDesktop::closeWindow(const OpenedWindow& window) {
    windowServer->closeWindow(window.number);
    accessibility->removeElement(window.element);
}

void SimDesktop::movePointer(plinth::Point global) {
    windowServer->setPointer(global);
    inputMonitor->deliver({InputEventType::mouseMoved, 0});
}

void SimDesktop::scroll() {
    inputMonitor->deliver({InputEventType::scrollWheel, 0});
}

void SimDesktop::click(plinth::Point global, bool rightButton) {
    windowServer->setPointer(global);
    inputMonitor->deliver(
        {rightButton ? InputEventType::rightMouseDown : InputEventType::leftMouseDown, 0});
}

void SimDesktop::pressKey(Key key, std::uint64_t modifierFlags) {
    inputMonitor->deliver({InputEventType::keyDown, modifierFlags, key});
}

void SimDesktop::changeModifiers(std::uint64_t modifierFlags) {
    inputMonitor->deliver({InputEventType::flagsChanged, modifierFlags});
}

void SimDesktop::run(double seconds) {
    mainQueue->runUntil(clock->monotonic() + seconds);
}

void SimDesktop::settle() {
    while (serialQueues->drainAll() + mainQueue->runPending() > 0) {
    }
}

void SimDesktop::playUntil(double deadline) {
    settle();
    for (;;) {
        if (mainQueue->stopRequested()) {
            return;
        }
        double next = deadline;
        if (auto due = camera->nextFrameDue(); due && *due < next) {
            next = *due;
        }
        if (auto due = mainQueue->nextTimerDue(); due && *due < next) {
            next = *due;
        }
        // Frames that fell due while the clock was moved by other means arrive as one late
        // burst, as from a camera whose reader was busy.
        next = std::max(next, clock->monotonic());
        if (!mainQueue->advanceTo(next)) {
            return;
        }
        camera->deliverFramesDueBy(next);
        settle();
        if (next >= deadline) {
            return;
        }
    }
}

} // namespace orvane::sim
