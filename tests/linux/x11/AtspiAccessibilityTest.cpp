#include <gtest/gtest.h>

#include "linux/x11/X11Clients.hpp"

#include "backends/linux/atspi/AtspiAccessibility.hpp"
#if ORVANE_WITH_WAYLAND
#include "backends/linux/wayland/BridgeWindowFrames.hpp"
#endif
#include "backends/linux/x11/X11Connection.hpp"
#include "backends/linux/x11/X11Displays.hpp"
#include "backends/linux/x11/X11WindowList.hpp"
#include "backends/linux/x11/X11Workspace.hpp"
#include "orvane/focus/UnreachablePrograms.hpp"
#include "orvane/focus/WindowFinder.hpp"
#include "plinth/ScreenGeometry.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <atspi/atspi.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <deque>
#include <dirent.h>
#include <fstream>

namespace orvane::linuxbackend::test {
namespace {

class X11_accessibility : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TEST_DESKTOP();
        desktop = std::make_unique<TestDesktop>();
        factory = startWidgetFactory(*desktop, 1400, 50);
        ASSERT_NE(factory.window, 0u);
        ASSERT_TRUE(desktop->desktop().workspace()->activateWindow(factory.window));
        service = &platform().accessibility;
        // The application registers with the accessibility bus shortly after it maps.
        ASSERT_TRUE(desktop->waiter().until([&] {
            const auto windows = (*service)->windows(application()).value();
            return windows && !windows->empty();
        }));
    }

    AccessibleRef application() { return (*service)->applicationElement(factory.pid()); }

    std::unique_ptr<TestDesktop> desktop;
    RunningClient factory;
    std::shared_ptr<AccessibilityService>* service = nullptr;
};

// A client that draws its own decorations with a shadow, as GTK does under a compositing window
// manager: its X window is larger than the window the user sees by the margins it names.
TEST_F(X11_accessibility, takesTheShadowOffTheListedFrameAndTheAccessibleWindowAlike) {
    ::Display* display = desktop->connection().display();
    auto outer = X11WindowList::clientFrameOf(desktop->connection(), factory.window);
    ASSERT_TRUE(outer);
    const long margins[] = {20, 22, 15, 25}; // left, right, top, bottom
    XChangeProperty(display, factory.window, XInternAtom(display, "_GTK_FRAME_EXTENTS", False),
                    XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(margins), 4);
    XSync(display, False);
    const plinth::Rect seen{outer->x + 20, outer->y + 15, outer->width - 42, outer->height - 40};

    // The harness's primary monitor is at the root's origin: global and root agree.
    std::optional<ScreenWindow> listed;
    ASSERT_TRUE(desktop->waiter().until([&] {
        for (const auto& window : WindowFinder::windowsFrontToBack()) {
            if (window.windowID == factory.window && window.frame == seen) {
                listed = window;
            }
        }
        return listed.has_value();
    }));
    EXPECT_EQ(X11WindowList::frameOf(desktop->connection(), factory.window), seen);
    EXPECT_EQ(X11WindowList::clientFrameOf(desktop->connection(), factory.window), seen);
    // The shadow is no part of the window: a point in it is not on the window.
    EXPECT_NE(
        WindowFinder::windowAt({outer->x + 5, outer->y + 100}).value_or(ScreenWindow{}).windowID,
        factory.window);

    // The toolkit reads the new margins a little after the window list does.
    std::optional<AccessibleRef> element;
    ASSERT_TRUE(desktop->waiter().until([&] {
        element = WindowFinder::accessibleWindow(*listed);
        return element.has_value();
    }));
    EXPECT_EQ((*service)->frame(*element).value(), seen);
    // Activation still finds the X window for the element.
    EXPECT_TRUE((*service)->raise(*element).ok());

    XDeleteProperty(display, factory.window, XInternAtom(display, "_GTK_FRAME_EXTENTS", False));
    XSync(display, False);
    ASSERT_TRUE(desktop->waiter().until([&] {
        return X11WindowList::clientFrameOf(desktop->connection(), factory.window) == outer;
    }));
}

// A GTK program that did not join the bus (as one started before it was switched on) is named
// until it is restarted; xterm, which has no accessibility at all, never is.
TEST(X11_accessibility_restart, namesToolkitProgramsMissingFromTheBusUntilRestarted) {
    REQUIRE_TEST_DESKTOP();
    TestDesktop desktop;
    auto xterm = startXterm(desktop, "orvane-plain", 100, 100);
    ASSERT_NE(xterm.window, 0u);
    auto unreached = std::make_unique<ChildProcess>(
        std::vector<std::string>{"env", "NO_AT_BRIDGE=1", "gtk3-widget-factory"});
    ASSERT_TRUE(desktop.waitForClientWindow(unreached->pid(), 20s));
    std::string name;
    for (const auto& window : WindowFinder::windowsFrontToBack()) {
        if (window.pid == unreached->pid()) {
            name = window.ownerName;
        }
    }
    ASSERT_FALSE(name.empty());
    const auto named = [](const std::string& program) {
        const auto names = UnreachablePrograms::list();
        return std::find(names.begin(), names.end(), program) != names.end();
    };
    EXPECT_TRUE(named(name));
    EXPECT_FALSE(named("XTerm"));

    unreached.reset();
    auto restarted = startWidgetFactory(desktop, 1400, 50);
    ASSERT_NE(restarted.window, 0u);
    // Named until it has registered, shortly after it maps.
    EXPECT_TRUE(desktop.waiter().until([&] { return !named(name); }, 20s));
    EXPECT_FALSE(named("XTerm"));
}

#if ORVANE_WITH_WAYLAND
// The service as on Wayland, reading extents relative to the window and placing them by the
// frames a compositor's bridge would give, here taken from the X server: every position must
// come out as the screen coordinates the X11 service reads.
class X11_accessibility_window_relative : public X11_accessibility {
protected:
    void SetUp() override {
        X11_accessibility::SetUp();
        if (HasFatalFailure() || IsSkipped()) {
            return;
        }
        BridgeWindowFrames::Hooks hooks;
        hooks.windows =
            [this](pid_t pid) -> std::optional<std::vector<BridgeWindowFrames::Window>> {
            auto windows = X11WindowList::query(desktop->connection());
            if (!windows) {
                return std::nullopt;
            }
            const auto primary = X11Displays::primaryRootFrame(desktop->connection());
            const auto global = [&](const plinth::Rect& root) {
                const auto origin =
                    plinth::ScreenGeometry::globalFromScreen({root.x, root.y}, primary);
                return plinth::Rect{origin.x, origin.y, root.width, root.height};
            };
            std::vector<BridgeWindowFrames::Window> frames;
            for (const auto& window : *windows) {
                if (window.isClient && window.pid == pid) {
                    frames.push_back({window.window, window.title, global(window.rootFrame),
                                      global(window.shadow.grow(window.clientFrame))});
                }
            }
            return frames;
        };
        relative = std::make_shared<AtspiAccessibility>(
            std::make_shared<BridgeWindowFrames>(std::move(hooks)));
    }

    // The frame of an element as a service reads it.
    static plinth::Rect placed(AccessibilityService& through, const AccessibleRef& element) {
        return through.frame(element).value().value_or(plinth::Rect{});
    }

    AccessibleRef hit(AccessibilityService& through, plinth::Point point) {
        return through.elementAt(through.applicationElement(factory.pid()), point)
            .value()
            .value_or(nullptr);
    }

    AccessibleRef firstWindow(AccessibilityService& through) {
        const auto windows = through.windows(through.applicationElement(factory.pid())).value();
        return windows && !windows->empty() ? windows->front() : nullptr;
    }

    std::shared_ptr<AtspiAccessibility> relative;
};

TEST_F(X11_accessibility_window_relative, placesWindowsAndWidgetsAsScreenCoordinatesDo) {
    auto entry = findShowingEntry(factory.pid());
    ASSERT_TRUE(entry);
    auto screenEntry = hit(**service, *entry);
    auto relativeEntry = hit(*relative, *entry);
    ASSERT_TRUE(screenEntry && relativeEntry);
    EXPECT_EQ(relative->role(relativeEntry).value(), AccessibleRole::textField);
    const plinth::Rect onScreen = placed(**service, screenEntry);
    EXPECT_GT(onScreen.width, 20.0);
    EXPECT_EQ(placed(*relative, relativeEntry), onScreen);

    const auto window = firstWindow(*relative);
    ASSERT_TRUE(window);
    EXPECT_EQ(placed(*relative, window), placed(**service, window));

    // Outside every window of the application there is nothing.
    EXPECT_EQ(relative->elementAt(relative->applicationElement(factory.pid()), {5, 1075}).error(),
              AccessError::noValue);
}

// Client-side decorations with a shadow: the toolkit counts from the corner of all it draws,
// the bridge's frame is the visible window within it.
TEST_F(X11_accessibility_window_relative, countsFromTheSurfaceButSeesTheFrame) {
    ::Display* display = desktop->connection().display();
    auto outer = X11WindowList::clientFrameOf(desktop->connection(), factory.window);
    ASSERT_TRUE(outer);
    const long margins[] = {20, 22, 15, 25}; // left, right, top, bottom
    const Atom extents = XInternAtom(display, "_GTK_FRAME_EXTENTS", False);
    XChangeProperty(display, factory.window, extents, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(margins), 4);
    XSync(display, False);
    const plinth::Rect seen{outer->x + 20, outer->y + 15, outer->width - 42, outer->height - 40};
    ASSERT_TRUE(desktop->waiter().until([&] {
        return X11WindowList::clientFrameOf(desktop->connection(), factory.window) == seen;
    }));

    auto entry = findShowingEntry(factory.pid());
    ASSERT_TRUE(entry);
    auto screenEntry = hit(**service, *entry);
    auto relativeEntry = hit(*relative, *entry);
    ASSERT_TRUE(screenEntry && relativeEntry);
    EXPECT_EQ(placed(*relative, relativeEntry), placed(**service, screenEntry));
    EXPECT_EQ(placed(*relative, firstWindow(*relative)), seen);
    // The shadow is no part of the window.
    EXPECT_FALSE(hit(*relative, {outer->x + 5, outer->y + 100}));

    XDeleteProperty(display, factory.window, extents);
    XSync(display, False);
    ASSERT_TRUE(desktop->waiter().until([&] {
        return X11WindowList::clientFrameOf(desktop->connection(), factory.window) == outer;
    }));
}
#endif

// The process that owns `name` on the session bus; 0 when none does.
pid_t ownerOf(const std::string& name) {
    const std::string command = "gdbus call --session --dest org.freedesktop.DBus "
                                "--object-path /org/freedesktop/DBus --method "
                                "org.freedesktop.DBus.GetConnectionUnixProcessID " +
                                name + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        return 0;
    }
    unsigned pid = 0;
    const int read = std::fscanf(pipe, "(uint32 %u,)", &pid);
    pclose(pipe);
    return read == 1 ? static_cast<pid_t>(pid) : 0;
}

// The state letter of /proc/<pid>/stat ('R', 'S', 'Z'...); 0 when there is no such process.
char stateOf(pid_t pid, pid_t* parent = nullptr) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) {
        return 0;
    }
    // "pid (comm) state ppid ...": the name may hold spaces and parentheses.
    char state = 0;
    int ppid = 0;
    if (std::sscanf(line.c_str() + line.rfind(')') + 1, " %c %d", &state, &ppid) != 2) {
        return 0;
    }
    if (parent) {
        *parent = ppid;
    }
    return state;
}

std::vector<pid_t> childrenOf(pid_t parent) {
    std::vector<pid_t> children;
    DIR* proc = opendir("/proc");
    while (dirent* entry = proc ? readdir(proc) : nullptr) {
        const pid_t pid = std::atoi(entry->d_name);
        pid_t ppid = 0;
        if (pid > 0 && stateOf(pid, &ppid) != 0 && ppid == parent) {
            children.push_back(pid);
        }
    }
    if (proc) {
        closedir(proc);
    }
    return children;
}

// The accessibility bus ends under a process that uses it, and the session starts another:
// calls fail instead of hanging or crashing, and the watch is told of the loss, then of the
// new bus, once each.
TEST(X11_atspi_bus, aBusThatEndsAndIsReplacedIsToldOnceEach) {
    REQUIRE_TEST_DESKTOP();
    TestDesktop desktop;
    auto factory = startWidgetFactory(desktop, 1400, 50);
    ASSERT_NE(factory.window, 0u);
    auto accessibility = std::dynamic_pointer_cast<AtspiAccessibility>(platform().accessibility);
    ASSERT_TRUE(accessibility);
    std::vector<AtspiAccessibility::BusChange> told;
    accessibility->setBusWatch([&told](auto change) { told.push_back(change); });
    const auto windowCount = [&] {
        const auto windows =
            accessibility->windows(accessibility->applicationElement(factory.pid())).value();
        return windows ? windows->size() : std::size_t{0};
    };
    ASSERT_TRUE(desktop.waiter().until([&] { return windowCount() > 0; }));
    EXPECT_TRUE(accessibility->isProcessTrusted());
    EXPECT_TRUE(told.empty());

    // The bus daemon dies; its launcher ends with it.
    const pid_t launcher = ownerOf("org.a11y.Bus");
    ASSERT_GT(launcher, 0);
    const auto daemons = childrenOf(launcher);
    ASSERT_FALSE(daemons.empty());
    for (const pid_t daemon : daemons) {
        kill(daemon, SIGKILL);
    }
    // Its sockets close as it exits, before its parent reaps it.
    ASSERT_TRUE(desktop.waiter().until(
        [&] {
            return std::all_of(daemons.begin(), daemons.end(), [](pid_t daemon) {
                const char state = stateOf(daemon);
                return state == 0 || state == 'Z';
            });
        },
        10s, 20ms));
    EXPECT_EQ(windowCount(), 0u);

    // Asking for trust finds the bus gone and has the session start a new one.
    ASSERT_TRUE(desktop.waiter().until(
        [&] {
            accessibility->isProcessTrusted();
            return told.size() >= 2;
        },
        20s, 100ms));
    for (int i = 0; i < 3; ++i) {
        accessibility->isProcessTrusted();
    }
    EXPECT_EQ(told, (std::vector{AtspiAccessibility::BusChange::lost,
                                 AtspiAccessibility::BusChange::replaced}));
    EXPECT_NE(ownerOf("org.a11y.Bus"), launcher);
}

} // namespace
} // namespace orvane::linuxbackend::test
