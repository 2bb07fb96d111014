// KWinLink against a real KWin (scripts/kwin-desktop.sh: two 1920x1080 outputs side by side):
// it lists a GTK and a Qt window, one per output, activates each exactly, answers where the
// cursor is, refuses state from anyone but its own script in KWin, loads the script again
// after KWin restarts and removes it when it ends; a script left by an Orvane that died serves
// nobody who takes Orvane's bus name after it.
#include "kwin/KWinTestSupport.hpp"
#include "unit/SessionBusTestSupport.hpp"

#include "backends/linux/wayland/client/LayerShellGazeDot.hpp"
#include "backends/linux/wayland/client/WaylandActivity.hpp"
#include "backends/linux/wayland/client/WaylandClient.hpp"
#include "backends/linux/wayland/kwin/KWinHotKeys.hpp"
#include "backends/linux/wayland/kwin/KWinLink.hpp"
#include "orvane/platform/Platform.hpp"
#include "orvane/platform/WindowServer.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace orvane::linuxbackend::test {
namespace {

// Asks KWin whether the script it knows as `plugin` is loaded.
bool scriptLoadedInKWin(sd_bus* bus, const std::string& plugin) {
    sd_bus_message* reply = nullptr;
    int loaded = 0;
    const int r = sd_bus_call_method(bus, "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                                     "isScriptLoaded", nullptr, &reply, "s", plugin.c_str());
    if (r >= 0) {
        sd_bus_message_read(reply, "b", &loaded);
    }
    sd_bus_message_unref(reply);
    return loaded != 0;
}

std::string uniqueNameOf(sd_bus* bus, const char* name) {
    sd_bus_message* reply = nullptr;
    const char* owner = nullptr;
    std::string unique;
    if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "GetNameOwner", nullptr, &reply, "s",
                           name) >= 0 &&
        sd_bus_message_read(reply, "s", &owner) >= 0 && owner) {
        unique = owner;
    }
    sd_bus_message_unref(reply);
    return unique;
}

// Calls the link's object as `bus`, with these string arguments; the error's name, empty when
// the call was taken.
std::string callLink(sd_bus* bus, const char* member, const std::vector<std::string>& arguments) {
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r = sd_bus_message_new_method_call(bus, &call, KWinLink::busName, KWinLink::objectPath,
                                           KWinLink::interfaceName, member);
    for (const auto& argument : arguments) {
        r = r >= 0 ? sd_bus_message_append(call, "s", argument.c_str()) : r;
    }
    r = r >= 0 ? sd_bus_call(bus, call, 2'000'000, &error, &reply) : r;
    const std::string name = r >= 0 ? "" : error.name ? error.name : "failed";
    sd_bus_error_free(&error);
    sd_bus_message_unref(call);
    sd_bus_message_unref(reply);
    return name;
}

// The key written into the script KWin reads.
std::string keyIn(const std::string& scriptFile) {
    std::stringstream text;
    text << std::ifstream(scriptFile).rdbuf();
    std::smatch found;
    const std::string script = text.str();
    return std::regex_search(script, found, std::regex("var KEY = \"([0-9a-f]+)\";"))
               ? found[1].str()
               : "";
}

struct stat statOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
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
    LogCapture log;
    // Where an earlier Orvane wrote its script, by a name anyone could foresee: links planted
    // there must lead nowhere.
    const std::string runtime = env("XDG_RUNTIME_DIR");
    const std::string planted = runtime + "/planted-target";
    for (const std::string suffix : {".js", ".js.new"}) {
        const std::string foreseen =
            runtime + "/orvane-kwin-bridge-" + std::to_string(::getpid()) + suffix;
        ASSERT_EQ(::symlink(planted.c_str(), foreseen.c_str()), 0) << foreseen;
    }

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
    const std::string plugin = link->pluginName();
    EXPECT_TRUE(scriptLoadedInKWin(bus_, plugin));

    // The script KWin reads is the user's alone, in a folder of its own made for this run.
    const std::string scriptFile = link->scriptFile();
    const std::string folder = std::filesystem::path(scriptFile).parent_path();
    EXPECT_EQ(std::filesystem::path(folder).parent_path(), std::filesystem::path(runtime));
    EXPECT_TRUE(S_ISDIR(statOf(folder).st_mode));
    EXPECT_EQ(statOf(folder).st_mode & 07777, 0700u);
    EXPECT_EQ(statOf(folder).st_uid, ::getuid());
    EXPECT_TRUE(S_ISREG(statOf(scriptFile).st_mode)); // not a link
    EXPECT_EQ(statOf(scriptFile).st_mode & 07777, 0600u);
    EXPECT_FALSE(std::filesystem::exists(planted));
    const std::string key = keyIn(scriptFile);
    EXPECT_GE(key.size(), 32u); // 128 bits at least

    // Another script in KWin (its calls come from KWin too) without the key is refused, and
    // said so once, naming KWin's connection.
    const std::string orvane = uniqueNameOf(bus_, KWinLink::busName);
    ASSERT_FALSE(orvane.empty());
    const std::string intruder =
        R"([{"id":"{intruder}","caption":"intruder","frame":{"x":0,"y":0,"width":9,"height":9}}])";
    runInKWin(bus_, "callDBus('" + orvane + "', '" + KWinLink::objectPath + "', '" +
                        KWinLink::interfaceName + "', 'Windows', '" + std::string(64, '0') +
                        "', '" + intruder + "');\ncallDBus('" + orvane + "', '" +
                        KWinLink::objectPath + "', '" + KWinLink::interfaceName +
                        "', 'Windows', '" + intruder + "');\n");
    const std::string kwinName = uniqueNameOf(bus_, "org.kde.KWin");
    EXPECT_TRUE(
        log.sink->waitForLine(LogLevel::info, "refused a call to Orvane's KWin bridge from " +
                                                  kwinName + ": it lacks this run's key"));
    EXPECT_FALSE(byTitle(link->snapshot(), "intruder"));
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

    // Nobody but the script in KWin may tell the link what is on screen or take its
    // commands: not without the key, not with a wrong one, and not with the right one from
    // outside KWin.
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"[]"}, {std::string(64, 'f'), "[]"}, {key.substr(0, 8), "[]"}, {key, "[]"}}) {
        EXPECT_EQ(callLink(bus_, "Windows", arguments), SD_BUS_ERROR_ACCESS_DENIED) << arguments[0];
    }
    EXPECT_EQ(callLink(bus_, "NextCommand", {key}), SD_BUS_ERROR_ACCESS_DENIED);
    EXPECT_EQ(callLink(bus_, "NextCommand", {}), SD_BUS_ERROR_ACCESS_DENIED);
    EXPECT_TRUE(byTitle(link->snapshot(), "kwin-gtk"));
    EXPECT_EQ(log.sink->count(LogLevel::info, "refused a call"), 1u);

    // The pause chord is a KDE global shortcut of Orvane's; one KWin has itself is refused.
    constexpr Key tab = Key::tab;
    int pressed = 0;
    auto hotKeys = std::make_unique<KWinHotKeys>(link);
    const auto chord = ModifierFlag::command | ModifierFlag::shift;
    ASSERT_TRUE(hotKeys->registerHotKey(Key::g, chord, [&] { ++pressed; }));
    EXPECT_FALSE(hotKeys->registerHotKey(Key::g, chord, [] {}));             // registered already
    EXPECT_FALSE(hotKeys->registerHotKey(tab, ModifierFlag::option, [] {})); // KWin's window switch
    EXPECT_NE(hotKeys->takenBy(tab, ModifierFlag::option).find("KWin: "), std::string::npos)
        << hotKeys->takenBy(tab, ModifierFlag::option);
    EXPECT_EQ(hotKeys->takenBy(Key::g, chord), ""); // ours is nobody else's
    const std::string action =
        "hot-key-" + std::to_string(KWinHotKeys::qtKeys(Key::g, chord).value_or(0));
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
    EXPECT_TRUE(scriptLoadedInKWin(bus_, plugin));
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

    // A script KWin dropped (as one that took Orvane for gone drops itself) falls silent,
    // and the link loads it again.
    sd_bus_message* reply = nullptr;
    ASSERT_GE(sd_bus_call_method(bus_, "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                                 "unloadScript", nullptr, &reply, "s", plugin.c_str()),
              0);
    sd_bus_message_unref(reply);
    EXPECT_TRUE(log.sink->waitForLine(LogLevel::info, "stopped asking for commands", 40s));
    // The log line comes before the link lets go of the old script, so the link may still
    // read ready for a moment: what counts is the script back in KWin.
    EXPECT_TRUE(
        until([&] { return link->snapshot().ready && scriptLoadedInKWin(bus_, plugin); }, 30s))
        << link->problem();

    // Ending the link takes the script out of KWin, and its file and folder away.
    watch.reset();
    events.reset();
    hotKeys.reset();
    link.reset();
    EXPECT_FALSE(scriptLoadedInKWin(bus_, plugin));
    EXPECT_FALSE(std::filesystem::exists(scriptFile));
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_FALSE(std::filesystem::exists(planted));
}

// Run by the next test in a process of its own, which it then kills: holds a link until then.
TEST(KWinLinkHolder, HoldsALinkUntilKilled) {
    if (!std::getenv("ORVANE_KWIN_HOLD_LINK")) {
        GTEST_SKIP() << "started by ScriptLeftByAnOrvaneThatDiedServesNobody";
    }
    auto queue = std::make_shared<SignallingMainQueue>();
    KWinLink link(queue);
    ASSERT_TRUE(queue->runTasksUntil([&] { return link.snapshot().ready; }, 20s));
    std::printf("ready %s %s\n", link.pluginName().c_str(), link.scriptFile().c_str());
    std::fflush(stdout);
    char byte = 0;
    [[maybe_unused]] auto n = ::read(STDIN_FILENO, &byte, 1); // until killed
}

// An Orvane killed outright cannot unload its script. The script called that Orvane's own
// connection, whose name the bus never gives again: one who takes Orvane's well-known name
// afterwards hears nothing from it, so cannot answer its standing call with commands, and the
// script, its call unanswered, stops and has KWin unload it.
TEST_F(KWinBridge, ScriptLeftByAnOrvaneThatDiedServesNobody) {
    const std::string clients = ORVANE_TEST_CLIENTS;
    Child gtk{spawn({"/usr/bin/python3", clients + "/gtk-window-at.py", "kwin-left", "0", "0"})};
    int toHolder[2] = {-1, -1};
    int fromHolder[2] = {-1, -1};
    ASSERT_EQ(::pipe2(toHolder, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(fromHolder, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toHolder[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromHolder[1], STDOUT_FILENO);
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        environment.emplace_back(*entry);
    }
    environment.emplace_back("ORVANE_KWIN_HOLD_LINK=1");
    std::vector<char*> envp;
    for (auto& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::string self = std::filesystem::read_symlink("/proc/self/exe");
    std::string filter = "--gtest_filter=KWinLinkHolder.*";
    char* argv[] = {self.data(), filter.data(), nullptr};
    Child holder;
    ASSERT_EQ(posix_spawn(&holder.pid, self.c_str(), &actions, nullptr, argv, envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(toHolder[0]);
    ::close(fromHolder[1]);

    // The holder's test output comes first on the same pipe.
    std::string said;
    std::smatch found;
    const std::regex ready("ready (\\S+) (\\S+)\n");
    pollfd readable{fromHolder[0], POLLIN, 0};
    while (!std::regex_search(said, found, ready) && ::poll(&readable, 1, 30'000) > 0) {
        char chunk[512];
        const ssize_t n = ::read(fromHolder[0], chunk, sizeof chunk);
        if (n <= 0) {
            break;
        }
        said.append(chunk, static_cast<std::size_t>(n));
    }
    ASSERT_TRUE(std::regex_search(said, found, ready)) << said;
    const std::string plugin = found[1].str();
    const std::string leftFolder = std::filesystem::path(found[2].str()).parent_path();
    ASSERT_TRUE(scriptLoadedInKWin(bus_, plugin));

    ::kill(holder.pid, SIGKILL);
    ::waitpid(holder.pid, nullptr, 0);
    holder.pid = -1;
    ::close(toHolder[1]);
    ::close(fromHolder[0]);

    // The squatter takes Orvane's name as soon as the bus lets it go, and keeps every call.
    BusClient squatter(env("DBUS_SESSION_BUS_ADDRESS"));
    ASSERT_TRUE(squatter.isConnected());
    std::vector<std::string> heard;
    sd_bus_slot* slot = nullptr;
    ASSERT_GE(
        sd_bus_add_object(
            squatter.bus(), &slot, KWinLink::objectPath,
            [](sd_bus_message* m, void* userdata, sd_bus_error*) {
                const char* member = sd_bus_message_get_member(m);
                static_cast<std::vector<std::string>*>(userdata)->push_back(member ? member : "?");
                // Were this a poll, it would be answered with a command.
                return sd_bus_reply_method_return(m, "s",
                                                  R"({"op":"activate","id":"{any}","serial":1})");
            },
            &heard),
        0);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!squatter.own(KWinLink::busName) && std::chrono::steady_clock::now() < deadline) {
        squatter.serveUntil([] { return false; }, 100ms);
    }
    const char* squatterName = nullptr;
    ASSERT_GE(sd_bus_get_unique_name(squatter.bus(), &squatterName), 0);
    ASSERT_EQ(uniqueNameOf(bus_, KWinLink::busName), squatterName);

    // Windows change under the script; it tells nobody, and is gone within its watchdog.
    placeWindows(bus_, {{"kwin-left", {300, 300}}});
    bool gone = false;
    const auto giveUp = std::chrono::steady_clock::now() + 45s;
    while (!gone && std::chrono::steady_clock::now() < giveUp) {
        squatter.serveUntil([] { return false; }, 500ms);
        gone = !scriptLoadedInKWin(bus_, plugin);
    }
    EXPECT_TRUE(gone) << "the script of an Orvane that died is still loaded";
    squatter.serveUntil([] { return false; }, 100ms);
    EXPECT_TRUE(heard.empty()) << "the squatter heard " << heard.front();
    sd_bus_slot_unref(slot);
    std::filesystem::remove_all(leftFolder); // what a killed Orvane leaves
}

} // namespace
} // namespace orvane::linuxbackend::test
