#include "linux/x11/X11TestSupport.hpp"

#include "backends/linux/atspi/AtspiAccessibility.hpp"
#include "backends/linux/x11/X11Connection.hpp"
#include "backends/linux/x11/X11WindowList.hpp"
#include "backends/linux/x11/X11Workspace.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace orvane::linuxbackend::test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
    if (pid_ <= 0 || reaped_) {
        return;
    }
    kill(pid_, SIGTERM);
    if (!wait(3s)) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) {
        return std::nullopt;
    }
    // Wait on a pidfd: it becomes readable when the process ends.
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    struct Closer {
        int fd;
        ~Closer() {
            if (fd >= 0) {
                close(fd);
            }
        }
    } closer{pidfd};
    while (true) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            reaped_ = true;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (done < 0 && errno != EINTR) {
            reaped_ = true;
            return std::nullopt;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        // Without a pidfd (old kernels) look again every few milliseconds.
        const long wait =
            pidfd >= 0 ? remaining.count() + 1 : std::min<long>(remaining.count() + 1, 5);
        pollfd descriptor{pidfd, POLLIN, 0};
        poll(&descriptor, pidfd >= 0 ? 1 : 0, static_cast<int>(wait));
    }
}

bool run(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    ChildProcess process(argv);
    auto status = process.wait(timeout);
    return status && *status == 0;
}

Waiter::Waiter() {
    display_ = XOpenDisplay(nullptr);
    if (display_) {
        XSelectInput(display_, DefaultRootWindow(display_),
                     SubstructureNotifyMask | PropertyChangeMask);
        XFlush(display_);
    }
}

Waiter::~Waiter() {
    if (display_) {
        XCloseDisplay(display_);
    }
}

bool Waiter::until(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
                   std::chrono::milliseconds step) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (display_) {
            while (XPending(display_) > 0) {
                XEvent event;
                XNextEvent(display_, &event);
            }
        }
        if (condition()) {
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        const auto remaining =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        const int wait = static_cast<int>(std::min(remaining, step).count()) + 1;
        if (display_) {
            pollfd descriptor{ConnectionNumber(display_), POLLIN, 0};
            poll(&descriptor, 1, wait);
        } else {
            poll(nullptr, 0, wait);
        }
    }
}

bool onTestDesktop() {
    const char* flag = std::getenv("ORVANE_TEST_DESKTOP");
    const char* display = std::getenv("DISPLAY");
    return flag && *flag && display && *display;
}

TestDesktop::TestDesktop()
    : clock_(std::make_shared<sim::SimClock>()),
      mainQueue_(std::make_shared<sim::ManualMainQueue>(clock_)),
      preferences_(std::make_shared<sim::InMemoryPreferences>()) {
    // The component tests here check what the calls answer, not how fast, on a machine that
    // runs them under the sanitizers beside other work: the main thread may wait long. The
    // shell tests run orvane with its own budget.
    AtspiAccessibility::setAnswerBudget(std::chrono::seconds(2));
    std::string error;
    desktop_ = X11Desktop::open(mainQueue_, &error);
    // A compositing window manager drawing through llvmpipe on that machine may take longer
    // than a desktop's to act on an activation (muffin: up to about 400 ms).
    if (desktop_) {
        desktop_->workspace()->setActivationWait(activationWait);
    }
    auto services = std::make_shared<Platform>();
    services->clock = clock_;
    services->mainQueue = mainQueue_;
    services->preferences = preferences_;
    if (desktop_) {
        desktop_->fill(*services);
    }
    installation_ = std::make_unique<PlatformInstallation>(services);
}

TestDesktop::~TestDesktop() = default;

X11Connection& TestDesktop::connection() {
    return *desktop_->connection();
}

std::optional<unsigned long> TestDesktop::waitForClientWindow(pid_t pid,
                                                              std::chrono::milliseconds timeout) {
    std::optional<unsigned long> found;
    waiter_.until(
        [&] {
            auto windows = X11WindowList::query(connection());
            if (!windows) {
                return false;
            }
            for (const auto& window : *windows) {
                if (window.isClient && window.pid == pid && window.layer == 0) {
                    found = window.window;
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

unsigned long TestDesktop::activeWindow() {
    return X11WindowList::activeWindow(connection());
}

bool TestDesktop::hasInputFocus(unsigned long client) {
    ::Display* display = connection().display();
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    const Window root = DefaultRootWindow(display);
    // Up from the focus window to the root; the client's frame lies above the client, not below.
    for (Window window = focus; window != 0 && window != root && window != PointerRoot;) {
        if (window == client) {
            return true;
        }
        Window rootReturn = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(display, window, &rootReturn, &parent, &children, &count) == 0) {
            return false;
        }
        if (children) {
            XFree(children);
        }
        window = parent;
    }
    return false;
}

bool TestDesktop::moveClient(unsigned long window, int x, int y) {
    // _NET_MOVERESIZE_WINDOW with gravity "static"-free northwest: the frame's top-left corner.
    ::Display* display = connection().display();
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = connection().atom("_NET_MOVERESIZE_WINDOW");
    event.xclient.format = 32;
    event.xclient.data.l[0] = NorthWestGravity | (1 << 8) | (1 << 9) | (2 << 12);
    event.xclient.data.l[1] = x;
    event.xclient.data.l[2] = y;
    XSendEvent(display, connection().root(), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display);
    return waiter_.until([&] {
        auto frame = X11WindowList::frameOf(connection(), window);
        return frame && frame->x == x && frame->y == y;
    });
}

unsigned long createWindow(XDisplay* display, int x, int y, int width, int height, const char* type,
                           bool overrideRedirect, long eventMask) {
    XSetWindowAttributes attributes{};
    attributes.override_redirect = overrideRedirect ? True : False;
    attributes.event_mask = eventMask;
    const Window window =
        XCreateWindow(display, DefaultRootWindow(display), x, y, static_cast<unsigned>(width),
                      static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                      CWOverrideRedirect | CWEventMask, &attributes);
    if (type) {
        Atom typeAtom = XInternAtom(display, type, False);
        XChangeProperty(display, window, XInternAtom(display, "_NET_WM_WINDOW_TYPE", False),
                        XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&typeAtom),
                        1);
    }
    return window;
}

void keepAbove(XDisplay* display, unsigned long client, bool above) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = client;
    event.xclient.message_type = XInternAtom(display, "_NET_WM_STATE", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = above ? 1 : 0; // add, remove
    event.xclient.data.l[1] = static_cast<long>(XInternAtom(display, "_NET_WM_STATE_ABOVE", False));
    event.xclient.data.l[3] = 2; // a pager's request: honoured at once
    XSendEvent(display, DefaultRootWindow(display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display);
}

} // namespace orvane::linuxbackend::test
