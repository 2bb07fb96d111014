#pragma once

#include "backends/linux/atspi/AtspiResponsiveness.hpp"
#include "orvane/platform/AccessibilityService.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

typedef struct _AtspiAccessible AtspiAccessible;

namespace orvane::linuxbackend {

class AtspiBusStatus;
class AtspiElement;
class AtspiWindowSystem;
struct AtspiTopLevel;
struct WindowView;

// What switching the accessibility bus on means for the desktop, for the diagnostics report.
inline constexpr const char* kAccessibilityBusExposure =
    "the accessibility bus, switched on for your session as a screen reader would: any program "
    "of yours may read other programs' windows and text through it; Orvane reads it and moves "
    "focus through it, and offers nothing on it but its own windows";

// Other applications' widgets through AT-SPI. Every call runs on the AT-SPI worker thread
// (AtspiWorker); the main thread waits for it at most 30 ms and then answers
// `cannotComplete`. A program whose answer libatspi gave up on (300 ms) is skipped until a
// probe in the background sees it answer again (one merely slow under load is not), and this
// process's own accessibility tree, which only the (then waiting) main thread could answer, is
// never asked.
// Extents are screen coordinates shifted into the global top-left space where the window
// system has usable ones (X11), else relative to the element's window and placed by that
// window's frame (Wayland). The window system is asked on the main thread only. Main thread.
class AtspiAccessibility : public AccessibilityService {
public:
    static constexpr std::chrono::milliseconds defaultAnswerBudget{30};
    // How long the main thread waits for the worker, for every service of the process.
    static void setAnswerBudget(std::chrono::milliseconds wait);

    explicit AtspiAccessibility(std::shared_ptr<AtspiWindowSystem> windows);
    ~AtspiAccessibility() override;

    // Kept up to date by the worker (every second, and at once after `promptForTrust`).
    bool isProcessTrusted() const override;
    // Switches the accessibility bus on: toolkits that watch it start exposing their widgets
    // (applications already running may need a restart). Nothing is shown to the user.
    void promptForTrust() override;
    AccessibleRef applicationElement(pid_t pid) override;
    AccessResult<std::vector<AccessibleRef>> windows(const AccessibleRef& application) override;
    AccessResult<plinth::Rect> frame(const AccessibleRef& element) override;
    AccessResult<AccessibleRole> role(const AccessibleRef& element) override;
    AccessResult<AccessibleRef> parent(const AccessibleRef& element) override;
    AccessResult<void> raise(const AccessibleRef& window) override;
    // Remembered for the workspace: activating the program then focuses this window.
    AccessResult<void> makeMain(const AccessibleRef& window) override;
    AccessResult<void> focus(const AccessibleRef& element) override;
    AccessResult<AccessibleRef> elementAt(const AccessibleRef& application,
                                          plinth::Point point) override;
    // The worker's latest listing when it cannot answer in time.
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

    // Who answers and who is skipped; shared with the focus watch and the popover check.
    std::shared_ptr<AtspiResponsiveness> responsiveness();

    // On the worker: connects libatspi to the accessibility bus once (its events then arrive
    // on the worker's context); false when that is not possible.
    static bool initializeOnWorker();
    // On the worker: the application of `pid` on the bus, a new reference; null when it is not
    // there, is this process, or is skipped.
    static AtspiAccessible* findApplicationOnWorker(pid_t pid, const AtspiResponsiveness& skip);

    // The state the worker keeps for this service (trust, the bus, the listing).
    struct Shared;

private:
    void watchBus() const;
    template <typename T> T ask(pid_t pid, T fallback, std::function<T()> task);
    // A question about one element for the worker, with the window system's view of its
    // program where `needsView`; `invalidElement` for an element this service did not make.
    template <typename T>
    using Question = std::function<AccessResult<T>(const AtspiElement&, const WindowView&)>;
    template <typename T>
    AccessResult<T> askAbout(const AccessibleRef& element, bool needsView, Question<T> question);
    // The X window that shows the window element, remembered as its program's main one.
    AccessResult<std::uint64_t> rememberShown(const AccessibleRef& window);

    std::shared_ptr<AtspiWindowSystem> windows_;
    std::shared_ptr<Shared> shared_;
    std::function<void(BusChange)> busWatch_;
    mutable bool busLost_ = false;
    mutable bool busReplaced_ = false;
};

} // namespace orvane::linuxbackend
