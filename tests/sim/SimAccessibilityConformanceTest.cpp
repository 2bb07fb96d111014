#include "backends/sim/SimAccessibility.hpp"
#include "conformance/AccessibilityConformance.hpp"

#include <array>

namespace orvane::sim {
namespace {

// Programs built as trees of the simulated service, answering at once: window → scroll area →
// the text inside it, as a toolkit's text view is.
class SimAccessibilityRig {
public:
    using ElementID = SimAccessibility::ElementID;
    struct Window {
        std::uint64_t number = 0; // the window's element
        std::vector<plinth::Rect> frames;
        plinth::Point inside;
    };
    struct Program {
        pid_t pid = 0;
        std::array<Window, 2> windows;
    };

    static bool available() { return true; }

    AccessibilityService& service() { return accessibility_; }

    Program start(const std::string&) {
        Program program{nextPid_++, {}};
        const std::array<plinth::Rect, 2> frames{plinth::Rect{100, 100, 600, 400},
                                                 plinth::Rect{800, 100, 600, 400}};
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const auto& frame = frames[i];
            const ElementID window = accessibility_.addWindow(program.pid, frame);
            const plinth::Rect content{frame.x, frame.y + 30, frame.width, frame.height - 30};
            const ElementID pane =
                accessibility_.addElement(window, AccessibleRole::scrollArea, content);
            accessibility_.addElement(pane, AccessibleRole::textArea, content);
            program.windows[i] = {window, {frame}, {frame.x + 300, frame.y + 200}};
        }
        return program;
    }
    void raise(const Window& window) { accessibility_.bringToFront(window.number); }
    void activate(const Program& program) { activated_ = program.pid; }
    // Activation brings the main window; the simulation has no desktop beyond the service.
    std::uint64_t activeWindow() { return accessibility_.mainWindow(activated_).value_or(0); }
    void stop(Program& program) {
        accessibility_.setApplicationError(program.pid, AccessError::cannotComplete);
    }
    void resume(Program& program) { accessibility_.setApplicationError(program.pid, std::nullopt); }
    void end(Program& program) { accessibility_.removeApplication(program.pid); }
    bool waitUntil(const std::function<bool()>& condition) { return condition(); }
    plinth::Point nowhere() { return {50, 900}; }
    std::chrono::milliseconds answerBound() { return std::chrono::milliseconds(0); }
    // Every answer is immediate: nothing to time.
    std::chrono::milliseconds timed(const std::function<void()>& call) {
        call();
        return std::chrono::milliseconds(0);
    }

private:
    SimAccessibility accessibility_;
    pid_t nextPid_ = 800;
    pid_t activated_ = 0;
};

} // namespace
} // namespace orvane::sim

namespace orvane::conformance {
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, AccessibilityConformance, sim::SimAccessibilityRig);
} // namespace orvane::conformance
