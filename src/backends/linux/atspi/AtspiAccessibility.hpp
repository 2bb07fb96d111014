#pragma once

#include "orvane/platform/AccessibilityService.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

typedef struct _AtspiAccessible AtspiAccessible;
struct DBusConnection;

namespace orvane::linuxbackend {

class AtspiBusStatus;
class AtspiElement;
class AtspiWindowSystem;
struct AtspiTopLevel;

// Other applications' widgets through AT-SPI. Every call into an application is bounded
// (300 ms), so a hung application answers `cannotComplete`. Extents are screen coordinates
// shifted into the global top-left space where the window system has usable ones (X11), else
// relative to the element's window and placed by that window's frame (Wayland). Main thread.
// What switching the accessibility bus on means for the desktop, for the diagnostics report.
inline constexpr const char* kAccessibilityBusExposure =
    "the accessibility bus, switched on for your session as a screen reader would: any program "
    "of yours may read other programs' windows and text through it; Orvane reads it and moves "
    "focus through it, and offers nothing on it but its own windows";

class AtspiAccessibility : public AccessibilityService {
public:
    explicit AtspiAccessibility(std::shared_ptr<AtspiWindowSystem> windows);
    ~AtspiAccessibility() override;

    bool isProcessTrusted() const override;
    // Switches the accessibility bus on: toolkits that watch it start exposing their widgets
    // (applications already running may need a restart). Nothing is shown to the user.
    void promptForTrust() override;
    AXElementRef applicationElement(pid_t pid) override;
    AXResult copyAttribute(const AXElementRef& element, const std::string& name) override;
    AXError setAttribute(const AXElementRef& element, const std::string& name, bool value) override;
    AXError performAction(const AXElementRef& element, const std::string& action) override;
    AXResult elementAtPosition(const AXElementRef& application, float x, float y) override;
    std::optional<std::vector<pid_t>> registeredProcesses() override;
    // GTK 3 and 4 and Qt 5 and 6 programs, judged by the libraries they have loaded: xterm and
    // the like have no accessibility support, and restarting them would not help.
    bool speaksAccessibility(pid_t pid) const override;

    // What became of the accessibility bus this process connected to: it went away, and then a
    // new one is up. libatspi keeps its first connection for the life of the process, so only
    // a new process reaches the applications on the new bus. Seen whenever trust is asked;
    // each is told once, on the asking thread.
    enum class BusChange { lost, replaced };
    void setBusWatch(std::function<void(BusChange)> watch) { busWatch_ = std::move(watch); }

    // Connects libatspi to the accessibility bus once; false when that is not possible.
    bool ensureInitialized();

private:
    void watchBus() const;
    AXResult windowsOf(const AtspiElement& application);
    // Extents in the global space.
    std::optional<plinth::Rect> globalExtents(AtspiAccessible* accessible, pid_t pid,
                                              AXError& error);
    // A window element's extents as the user sees the window: a client window's invisible
    // shadow taken off. Any other extents unchanged.
    plinth::Rect withoutShadow(const plinth::Rect& extents, pid_t pid);
    // Which of `windows` shows this window element: the one of the same frame within a few
    // points in screen coordinates; else the one of its title, or the frontmost.
    std::optional<std::size_t> matchWindow(AtspiAccessible* window,
                                           const std::vector<AtspiTopLevel>& windows);
    std::optional<AtspiTopLevel> topLevelFor(const AtspiElement& window);
    // Where the window-relative coordinates of this window element start, globally.
    std::optional<plinth::Point> windowOrigin(AtspiAccessible* window, const AtspiTopLevel& shown,
                                              AXError& error);

    std::shared_ptr<AtspiWindowSystem> windows_;
    std::unique_ptr<AtspiBusStatus> status_;
    bool initialized_ = false;
    bool initFailed_ = false;
    DBusConnection* atspiBus_ = nullptr; // libatspi's own connection, held to see it end
    std::function<void(BusChange)> busWatch_;
    mutable bool busLost_ = false;
    mutable bool busReplaced_ = false;
};

} // namespace orvane::linuxbackend
