// First: Xlib's macros (None, Bool…) would break the test library's templates.
#include "conformance/AccessibilityConformance.hpp"

#include "backends/linux/atspi/AtspiAccessibility.hpp"
#include "backends/linux/x11/X11Workspace.hpp"
#include "linux/x11/X11TestSupport.hpp"
#include "orvane/focus/WindowFinder.hpp"

#include <array>
#include <csignal>
#include <map>

namespace orvane::linuxbackend::test {
namespace {

// Real GTK 3 and Qt 6 programs with two windows each, reached through AT-SPI under the
// harness's window manager; raised and activated through the workspace, as the user would.
class X11AccessibilityRig {
public:
    struct Window {
        std::uint64_t number = 0;
        std::vector<plinth::Rect> frames;
        plinth::Point inside;
    };
    struct Program {
        pid_t pid = 0;
        std::array<Window, 2> windows;
    };

    static bool available() { return onTestDesktop(); }

    // Runs `command` TITLE LEFT_X RIGHT_X Y `options`.
    X11AccessibilityRig(std::vector<std::string> command, std::vector<std::string> options)
        : command_(std::move(command)), options_(std::move(options)) {}
    ~X11AccessibilityRig() {
        for (const auto& [pid, process] : programs_) {
            kill(pid, SIGCONT); // a stopped program would not end
        }
    }

    AccessibilityService& service() { return *desktop_.desktop().accessibility(); }

    Program start(const std::string& title) {
        auto argv = command_;
        argv.insert(argv.end(), {title, "100", "800", "150"});
        argv.insert(argv.end(), options_.begin(), options_.end());
        auto process = std::make_unique<ChildProcess>(argv);
        Program program{process->pid(), {}};
        programs_[program.pid] = std::move(process);
        const auto found = [&](const std::string& suffix) -> std::optional<ScreenWindow> {
            for (auto& window : WindowFinder::windowsFrontToBack()) {
                if (window.pid == program.pid && window.title == title + "-" + suffix) {
                    return window;
                }
            }
            return std::nullopt;
        };
        EXPECT_TRUE(waitUntil([&] { return found("left") && found("right"); }))
            << title << " did not show its two windows";
        std::size_t index = 0;
        for (const char* suffix : {"left", "right"}) {
            const auto shown = found(suffix).value_or(ScreenWindow{});
            const auto content = shown.contentFrame.value_or(shown.frame);
            program.windows[index++] = {
                shown.windowID,
                {shown.frame, content},
                {content.x + content.width / 2, content.y + content.height / 2}};
        }
        return program;
    }
    void raise(const Window& window) {
        desktop_.desktop().workspace()->activateWindow(window.number);
    }
    void activate(const Program& program) { desktop_.desktop().workspace()->activate(program.pid); }
    std::uint64_t activeWindow() { return desktop_.activeWindow(); }
    void stop(Program& program) { kill(program.pid, SIGSTOP); }
    void resume(Program& program) { kill(program.pid, SIGCONT); }
    void end(Program& program) { programs_.erase(program.pid); }
    // Toolkits join the bus a while after their windows show; Qt's first start is slow.
    bool waitUntil(const std::function<bool()>& condition) {
        return desktop_.waiter().until(condition, 20s);
    }
    // The bottom-left corner of the primary monitor, where no test window goes.
    plinth::Point nowhere() { return {5, 1075}; }
    // The backend gives up on a call after 300 ms; one left to the bus's default would wait
    // 25 s. The rest is room for a loaded machine.
    std::chrono::milliseconds answerBound() { return 1000ms; }
    std::chrono::milliseconds timed(const std::function<void()>& call) {
        const auto start = std::chrono::steady_clock::now();
        call();
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
    }

private:
    TestDesktop desktop_;
    std::vector<std::string> command_;
    std::vector<std::string> options_;
    std::map<pid_t, std::unique_ptr<ChildProcess>> programs_;
};

std::string client(const std::string& name) {
    return std::string(ORVANE_TEST_CLIENTS_DIR) + "/" + name;
}

class Gtk3Rig : public X11AccessibilityRig {
public:
    Gtk3Rig() : X11AccessibilityRig({client("gtk-window-at.py"), "--two"}, {}) {}
};

// Qt 6 joins the bus when a screen reader runs (the bus's switch), as a user's session with one
// has it, not through the variable that forces it.
class Qt6Rig : public X11AccessibilityRig {
public:
    Qt6Rig()
        : X11AccessibilityRig(
              {"env", "-u", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON", client("qt-two-windows.py")},
              {"main"}) {
        EXPECT_TRUE(run({"gdbus", "call", "--session", "-d", "org.a11y.Bus", "-o", "/org/a11y/bus",
                         "-m", "org.freedesktop.DBus.Properties.Set", "org.a11y.Status",
                         "ScreenReaderEnabled", "<true>"}))
            << "the screen-reader switch could not be set";
    }
};

} // namespace
} // namespace orvane::linuxbackend::test

namespace orvane::conformance {
// Named so that the accessibility group of the X11 tests runs them.
INSTANTIATE_TYPED_TEST_SUITE_P(X11_accessibility_gtk3, AccessibilityConformance,
                               linuxbackend::test::Gtk3Rig);
INSTANTIATE_TYPED_TEST_SUITE_P(X11_accessibility_qt6, AccessibilityConformance,
                               linuxbackend::test::Qt6Rig);
} // namespace orvane::conformance
