// KWinLink against a real KWin (scripts/kwin-desktop.sh: two 1920x1080 outputs side by side):
// it lists a GTK and a Qt window, one per output, activates each exactly, answers where the
// cursor is, refuses state from anyone but KWin, loads the script again after KWin restarts
// and removes it when it ends.
#include "unit/SessionBusTestSupport.hpp"

#include "backends/linux/wayland/LayerShellGazeDot.hpp"
#include "backends/linux/wayland/WaylandActivity.hpp"
#include "backends/linux/wayland/WaylandClient.hpp"
#include "backends/linux/wayland/kwin/KWinHotKeys.hpp"
#include "backends/linux/wayland/kwin/KWinLink.hpp"
#include "orvane/platform/WindowServer.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace orvane::linuxbackend::test {
namespace {

const char* env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

pid_t spawn(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    return posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

struct Child {
    pid_t pid = -1;
    ~Child() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

sd_bus* sessionBus() {
    sd_bus* bus = nullptr;
    return sd_bus_open_user(&bus) >= 0 ? bus : nullptr;
}

// Asks KWin whether our script is loaded.
bool scriptLoadedInKWin(sd_bus* bus) {
    sd_bus_message* reply = nullptr;
    int loaded = 0;
    const int r = sd_bus_call_method(bus, "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                                     "isScriptLoaded", nullptr, &reply, "s", KWinLink::pluginName);
    if (r >= 0) {
        sd_bus_message_read(reply, "b", &loaded);
    }
    sd_bus_message_unref(reply);
    return loaded != 0;
}

// Moves the windows named by caption through a script of the test's own (a client may not
// place itself on Wayland).
void placeWindows(sd_bus* bus, const std::vector<std::pair<std::string, plinth::Point>>& places) {
    std::string script = "var list = typeof workspace.windowList === 'function' ? "
                         "workspace.windowList() : workspace.clientList();\n"
                         "for (var i = 0; i < list.length; ++i) { var w = list[i];\n";
    for (const auto& [caption, at] : places) {
        script +=
            "if (w.caption === '" + caption +
            "') { var g = w.frameGeometry; w.frameGeometry = {x: " + std::to_string(int(at.x)) +
            ", y: " + std::to_string(int(at.y)) + ", width: g.width, height: g.height}; }\n";
    }
    script += "}\n";
    static int count = 0;
    const std::string path =
        std::string(env("XDG_RUNTIME_DIR")) + "/place-" + std::to_string(++count) + ".js";
    std::ofstream(path) << script;
    const std::string plugin = "orvane-test-place-" + std::to_string(count);
    sd_bus_message* reply = nullptr;
    ASSERT_GE(sd_bus_call_method(bus, "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                                 "loadScript", nullptr, &reply, "ss", path.c_str(), plugin.c_str()),
              0);
    sd_bus_message_unref(reply);
    reply = nullptr;
    ASSERT_GE(sd_bus_call_method(bus, "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                                 "start", nullptr, &reply, ""),
              0);
    sd_bus_message_unref(reply);
}

// Presses Orvane's shortcut `action` as KDE's shortcut settings do, through kglobalaccel.
bool invokeShortcut(sd_bus* bus, const std::string& action) {
    sd_bus_message* reply = nullptr;
    const char* path = nullptr;
    int r = sd_bus_call_method(bus, "org.kde.kglobalaccel", "/kglobalaccel", "org.kde.KGlobalAccel",
                               "getComponent", nullptr, &reply, "s", KWinLink::shortcutComponent);
    if (r >= 0) {
        r = sd_bus_message_read(reply, "o", &path);
    }
    const std::string component = r >= 0 && path ? path : "";
    sd_bus_message_unref(reply);
    reply = nullptr;
    if (component.empty()) {
        return false;
    }
    r = sd_bus_call_method(bus, "org.kde.kglobalaccel", component.c_str(),
                           "org.kde.kglobalaccel.Component", "invokeShortcut", nullptr, &reply, "s",
                           action.c_str());
    sd_bus_message_unref(reply);
    return r >= 0;
}

const CompositorWindow* byTitle(const CompositorSnapshot& s, const std::string& title) {
    if (!s.windows) {
        return nullptr;
    }
    for (const auto& window : *s.windows) {
        if (window.title == title) {
            return &window;
        }
    }
    return nullptr;
}

class KWinBridge : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("ORVANE_KWIN_START")) {
            GTEST_SKIP() << "runs under scripts/kwin-desktop.sh";
        }
        bus_ = sessionBus();
        ASSERT_NE(bus_, nullptr);
    }
    void TearDown() override { bus_ = sd_bus_flush_close_unref(bus_); }

    bool until(const std::function<bool()>& done, std::chrono::milliseconds timeout = 20s) {
        // Every change of the link's state is an event on the queue: wait on those.
        return queue_->runTasksUntil(done, timeout);
    }

    std::shared_ptr<SignallingMainQueue> queue_ = std::make_shared<SignallingMainQueue>();
    sd_bus* bus_ = nullptr;
};

// Orvane's own Wayland connection to KWin: the idle timer the guards hear input by, and the gaze
// dot as a layer surface on the output under its point (KWin has no screen copy for clients
// to look at it with: what KWin told of the surface is checked).
TEST_F(KWinBridge, GivesActivityAndTheGazeDotAsALayerSurface) {
    auto client = std::make_shared<WaylandClient>(queue_);
    ASSERT_TRUE(until([&] { return client->state().outputs.size() == 2; }));
    WaylandActivity activity(client, WaylandActivity::defaultTimeoutMilliseconds, queue_);
    ASSERT_TRUE(until([&] { return activity.available(); })) << "no idle timer on KWin";
    EXPECT_EQ(activity.protocol(), "ext-idle-notify-v1");

    LayerShellGazeDot dot(client);
    std::string right;
    for (const auto& output : client->state().outputs) {
        if (output.logical.x == 1920) {
            right = output.name;
        }
    }
    ASSERT_FALSE(right.empty());
    dot.show({2320, 300}, 40);
    ASSERT_TRUE(until([&] {
        const auto state = dot.surfaceState();
        return state.mapped && state.outputName == right;
    })) << dot.surfaceState().outputName;
    EXPECT_EQ(dot.surfaceState().placement.left, 380);
    EXPECT_EQ(dot.surfaceState().placement.top, 280);
    dot.show({500, 500}, 40);
    ASSERT_TRUE(until([&] {
        const auto state = dot.surfaceState();
        return state.mapped && !state.outputName.empty() && state.outputName != right;
    }));
    dot.hide();
    EXPECT_TRUE(until([&] { return !dot.surfaceState().mapped; }));
}

TEST_F(KWinBridge, ListsActivatesAndFollowsKWin) {
    const std::string clients = ORVANE_TEST_CLIENTS;
    Child gtk{spawn({"/usr/bin/python3", clients + "/gtk-window-at.py", "kwin-gtk", "0", "0"})};
    Child qt{spawn({"/usr/bin/python3", clients + "/qt-two-windows.py", "kwin-qt", "0", "0", "0"})};
    auto link = std::make_shared<KWinLink>(queue_);
    Subscription events = link->listen([](const CompositorEvent&) {});
    ASSERT_TRUE(until([&] {
        const auto s = link->snapshot();
        return s.ready && byTitle(s, "kwin-gtk") && byTitle(s, "kwin-qt-right");
    })) << link->problem();
    EXPECT_TRUE(link->scriptLoaded());
    EXPECT_TRUE(scriptLoadedInKWin(bus_));
    {
        const auto s = link->snapshot();
        ASSERT_TRUE(s.monitors);
        ASSERT_EQ(s.monitors->size(), 2u);
        EXPECT_EQ((*s.monitors)[0].stageFrame.x, 0);
        EXPECT_EQ((*s.monitors)[1].stageFrame.x, 1920);
        EXPECT_EQ(s.compositorVersion, env("ORVANE_COMPOSITOR_VERSION"));
    }

    placeWindows(bus_, {{"kwin-gtk", {200, 200}}, {"kwin-qt-right", {2300, 200}}});
    ASSERT_TRUE(until([&] {
        const auto s = link->snapshot();
        const auto* gtkWindow = byTitle(s, "kwin-gtk");
        const auto* qtWindow = byTitle(s, "kwin-qt-right");
        return gtkWindow && qtWindow && gtkWindow->frame.x == 200 && gtkWindow->monitor == 0 &&
               qtWindow->frame.x == 2300 && qtWindow->monitor == 1;
    }));
    const auto s = link->snapshot();
    const auto* gtkWindow = byTitle(s, "kwin-gtk");
    const auto* qtRight = byTitle(s, "kwin-qt-right");
    const auto* qtLeft = byTitle(s, "kwin-qt-left");
    ASSERT_TRUE(gtkWindow && qtRight && qtLeft);
    EXPECT_EQ(gtkWindow->type, "normal");
    EXPECT_GT(gtkWindow->pid, 0u);
    EXPECT_EQ(qtRight->pid, qtLeft->pid);
    EXPECT_NE(std::uint32_t(qtRight->id), std::uint32_t(qtLeft->id));

    // Exactly the window asked for, the Qt program's two told apart, back and forth.
    for (const auto* window : {gtkWindow, qtRight, qtLeft, qtRight, gtkWindow}) {
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(link->activateWindow(window->id), window->id) << window->title;
        const auto took = std::chrono::steady_clock::now() - started;
        std::printf("activated %s in %.1f ms\n", window->title.c_str(),
                    std::chrono::duration<double, std::milli>(took).count());
        const auto id = window->id;
        EXPECT_TRUE(until([&] { return link->snapshot().focusWindow == id; }));
    }
    EXPECT_FALSE(link->activateWindow(0xdead'beefULL)); // not a window of KWin's

    const auto pointer = link->queryPointer();
    ASSERT_TRUE(pointer);
    EXPECT_TRUE(pointer->x >= 0 && pointer->x < 3840 && pointer->y >= 0 && pointer->y < 1080);

    // Nobody but KWin may tell the link what is on screen.
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    EXPECT_LT(sd_bus_call_method(bus_, KWinLink::busName, KWinLink::objectPath,
                                 KWinLink::interfaceName, "Windows", &error, &reply, "s", "[]"),
              0);
    EXPECT_TRUE(sd_bus_error_has_name(&error, SD_BUS_ERROR_ACCESS_DENIED)) << error.name;
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    EXPECT_TRUE(byTitle(link->snapshot(), "kwin-gtk"));

    // The pause chord is a KDE global shortcut of Orvane's; one KWin has itself is refused.
    constexpr std::uint16_t tab = 48;
    int pressed = 0;
    auto hotKeys = std::make_unique<KWinHotKeys>(link);
    const auto chord = ModifierFlag::command | ModifierFlag::shift;
    ASSERT_TRUE(hotKeys->registerHotKey(KeyCode::g, chord, [&] { ++pressed; }));
    EXPECT_FALSE(hotKeys->registerHotKey(KeyCode::g, chord, [] {}));         // registered already
    EXPECT_FALSE(hotKeys->registerHotKey(tab, ModifierFlag::option, [] {})); // KWin's window switch
    EXPECT_NE(hotKeys->takenBy(tab, ModifierFlag::option).find("KWin: "), std::string::npos)
        << hotKeys->takenBy(tab, ModifierFlag::option);
    EXPECT_EQ(hotKeys->takenBy(KeyCode::g, chord), ""); // ours is nobody else's
    const std::string action =
        "hot-key-" + std::to_string(KWinHotKeys::qtKeys(KeyCode::g, chord).value_or(0));
    ASSERT_TRUE(invokeShortcut(bus_, action));
    EXPECT_TRUE(until([&] { return pressed == 1; }));

    // KWin restarts: the link hears it go, and loads the script into the new one.
    bool vanished = false;
    Subscription watch = link->listen([&](const CompositorEvent& event) {
        vanished = vanished || event.kind == CompositorEvent::Kind::vanished;
    });
    const pid_t kwin = std::atoi(env("ORVANE_KWIN_PID"));
    ASSERT_GT(kwin, 0);
    ::kill(kwin, SIGTERM);
    ASSERT_TRUE(until([&] { return vanished && !link->snapshot().ready; }));
    FILE* started = ::popen(env("ORVANE_KWIN_START"), "r");
    ASSERT_NE(started, nullptr);
    ::pclose(started);
    ASSERT_TRUE(until([&] { return link->snapshot().ready; }, 30s)) << link->problem();
    EXPECT_TRUE(scriptLoadedInKWin(bus_));
    // The new KWin's shortcuts know nothing of ours until they are asked again; pressed
    // before that, the press is not ours to hear, so it is pressed again now and then.
    int polls = 0;
    EXPECT_TRUE(until(
        [&] {
            if (pressed < 2 && polls++ % 25 == 0) {
                invokeShortcut(bus_, action);
            }
            return pressed >= 2;
        },
        10s));

    // Ending the link takes the script out of KWin.
    watch.reset();
    events.reset();
    hotKeys.reset();
    link.reset();
    EXPECT_FALSE(scriptLoadedInKWin(bus_));
}

} // namespace
} // namespace orvane::linuxbackend::test
