#pragma once

#include "backends/linux/x11/X11Desktop.hpp"

#include "backends/sim/InMemoryPreferences.hpp"
#include "backends/sim/ManualMainQueue.hpp"
#include "backends/sim/SimClock.hpp"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

typedef struct _XDisplay XDisplay;

namespace orvane::linuxbackend::test {

using namespace std::chrono_literals;

// A child process ended (and reaped) when the object goes away.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Waits for the process to end by itself; its exit status, nullopt on timeout.
    std::optional<int> wait(std::chrono::milliseconds timeout);

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
};

// Runs a command to its end (xdotool, xrandr); true when it exits with 0.
bool run(const std::vector<std::string>& argv, std::chrono::milliseconds timeout = 10s);

// Waits for `condition` without sleeping blindly: between checks it waits for any X event on a
// connection that watches the root window (windows created, mapped, moved, properties changed),
// at most `step` at a time, until `timeout` passes.
class Waiter {
public:
    Waiter();
    ~Waiter();
    Waiter(const Waiter&) = delete;
    Waiter& operator=(const Waiter&) = delete;

    bool until(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s,
               std::chrono::milliseconds step = 20ms);

private:
    XDisplay* display_ = nullptr;
};

// A window of the test's own, created unmapped at root (x, y). Unmanaged (override-redirect)
// unless told otherwise, so the server maps it at once without the window manager. `type`, when
// set, is its _NET_WM_WINDOW_TYPE atom name; `eventMask` the events selected on it.
unsigned long createWindow(XDisplay* display, int x, int y, int width, int height,
                           const char* type = nullptr, bool overrideRedirect = true,
                           long eventMask = 0);

// Asks the window manager to keep a client above the others, as a picture-in-picture player
// does (`above`), or to stop.
void keepAbove(XDisplay* display, unsigned long client, bool above);

// A test desktop: the backend over the harness's X display, installed as the platform with a
// manual main queue, a virtual clock and in-memory preferences.
// How long the tests' workspaces wait for the window manager to act on an activation.
inline constexpr std::chrono::milliseconds activationWait = 1s;

class TestDesktop {
public:
    TestDesktop();
    ~TestDesktop();

    X11Desktop& desktop() { return *desktop_; }
    X11Connection& connection();
    sim::ManualMainQueue& mainQueue() { return *mainQueue_; }
    sim::SimClock& clock() { return *clock_; }
    sim::InMemoryPreferences& preferences() { return *preferences_; }
    Waiter& waiter() { return waiter_; }

    // The client window of `pid`, once it is mapped and managed.
    std::optional<unsigned long> waitForClientWindow(pid_t pid,
                                                     std::chrono::milliseconds timeout = 10s);

    // _NET_ACTIVE_WINDOW now.
    unsigned long activeWindow();
    // True when the server sends keys to `client` or a window inside it: the window manager
    // may name a window active a while before it gives it the input focus.
    bool hasInputFocus(unsigned long client);

    // Moves a client's frame so its top-left corner is at the root point (x, y) and waits until
    // the window list shows it there.
    bool moveClient(unsigned long window, int x, int y);

private:
    std::shared_ptr<sim::SimClock> clock_;
    std::shared_ptr<sim::ManualMainQueue> mainQueue_;
    std::shared_ptr<sim::InMemoryPreferences> preferences_;
    std::shared_ptr<X11Desktop> desktop_;
    std::unique_ptr<PlatformInstallation> installation_;
    Waiter waiter_;
};

// True on the harness's desktop; the tests skip with a message elsewhere, except under CI.
bool onTestDesktop();

} // namespace orvane::linuxbackend::test

// In CI the tests must run; a missing desktop is a failure there, a skip elsewhere.
#define REQUIRE_TEST_DESKTOP()                                                                     \
    do {                                                                                           \
        if (!::orvane::linuxbackend::test::onTestDesktop()) {                                      \
            if (std::getenv("CI")) {                                                               \
                FAIL() << "no test desktop: run through scripts/test-desktop.sh";                  \
            }                                                                                      \
            GTEST_SKIP() << "no test desktop: run through scripts/test-desktop.sh";                \
        }                                                                                          \
    } while (false)
