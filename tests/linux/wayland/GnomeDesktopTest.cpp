#include "GnomeFakeShell.hpp"
#include "unit/SessionBusTestSupport.hpp"

#include "backends/linux/wayland/CompositorWindowServer.hpp"
#include "backends/linux/wayland/gnome/BridgeConnection.hpp"
#include "backends/linux/wayland/gnome/GnomeDesktop.hpp"
#include "backends/linux/wayland/gnome/GnomeShellExtension.hpp"
#include "backends/linux/wayland/gnome/SampledInputMonitor.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace orvane::linuxbackend::test {
namespace {

using Status = DesktopBridgeStatus;

// Two monitors with the primary on the right and taller: stage (0,0) is the left one's corner.
std::vector<FakeMonitor> twoMonitors() {
    return {{0, 200, 1920, 1080, "HDMI-1", "DELL U2720Q", false},
            {1920, 0, 2560, 1440, "DP-1", "LG HDR 4K", true}};
}

constexpr std::uint64_t baseId = std::uint64_t{1} << 32;

// One row a window: id, pid, app, title and type; frame and buffer in the stage; monitor,
// kept above, minimised.
std::vector<FakeWindow> someWindows() {
    // clang-format off
    return {
        {baseId + 9, 41, "org.gnome.Nautilus", "menu", "popup_menu",
         {2000, 100, 200, 300}, {2000, 100, 200, 300}, 1, false, false},
        {baseId + 1, 41, "org.gnome.Nautilus", "Files", "normal",
         {2020, 40, 800, 600}, {2000, 20, 840, 640}, 1, false, false},
        {baseId + 2, 42, "firefox", "Docs", "normal",
         {100, 300, 900, 700}, {100, 300, 900, 700}, 0, true, false},
        {baseId + 3, 42, "firefox", "Hidden", "normal",
         {0, 0, 500, 500}, {0, 0, 500, 500}, 0, false, true},
        {baseId + 4, 43, "new", "Unplaced", "normal",
         {0, 0, 0, 0}, {0, 0, 0, 0}, -1, false, false},
        {baseId + 5, 44, "desk", "Desktop", "desktop",
         {0, 0, 1920, 1080}, {0, 0, 1920, 1080}, 0, false, false},
        {baseId + 6, 41, "org.gnome.Nautilus", "Properties", "dialog",
         {2100, 200, 300, 200}, {2100, 200, 300, 200}, 1, false, false},
    };
    // clang-format on
}

// A private bus, a fake bridge on it and the GNOME desktop over it.
class GnomeDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(bus_.address().empty()) << "dbus-daemon did not start";
        environment_.set("DBUS_SESSION_BUS_ADDRESS", bus_.address());
        // No extension installed on this machine counts: only what a test puts in place.
        variables_["XDG_DATA_HOME"] = "/nonexistent";
        variables_["XDG_DATA_DIRS"] = "/nonexistent";
        desktop_ = GnomeDesktop::open({queue_,
                                       [this](const char* name) -> const char* {
                                           auto found = variables_.find(name);
                                           return found == variables_.end() ? nullptr
                                                                            : found->second.c_str();
                                       },
                                       nullptr});
        desktop_->fill(platform_);
    }

    // Starts a bridge and waits until the desktop has read it.
    void startBridge(unsigned version = BridgeConnection::version) {
        bridge_ = std::make_unique<FakeBridge>(bus_.address(), version, [](FakeBridge& b) {
            b.monitors = twoMonitors();
            b.windows = someWindows();
            b.focus = baseId + 1;
        });
        ASSERT_TRUE(bridge_->isReady());
        if (version == BridgeConnection::version) {
            ASSERT_TRUE(waitUntil([&] { return snapshot().ready; }));
            // Following and reading the bridge are not what the tests look at.
            bridge_->run([](FakeBridge& b) {
                std::erase_if(b.calls, [](const std::string& call) {
                    return call == "Follow" || call == "GetVersion";
                });
            });
        } else {
            ASSERT_TRUE(waitUntil([&] { return snapshot().version.has_value(); }));
        }
    }

    void stopBridge() {
        bridge_.reset();
        ASSERT_TRUE(waitUntil([&] { return !snapshot().present; }));
    }

    CompositorSnapshot snapshot() { return desktop_->bridge()->snapshot(); }
    bool waitUntil(const std::function<bool()>& done) { return queue_->runTasksUntil(done); }

    std::vector<std::string> callsOf(const std::string& prefix) {
        std::vector<std::string> found;
        bridge_->run([&](FakeBridge& b) {
            for (const auto& call : b.calls) {
                if (call.rfind(prefix, 0) == 0) {
                    found.push_back(call);
                }
            }
            b.calls.clear();
        });
        return found;
    }

    PrivateBus bus_;
    ScopedEnvironment environment_;
    std::map<std::string, std::string> variables_;
    std::shared_ptr<SignallingMainQueue> queue_ = std::make_shared<SignallingMainQueue>();
    std::shared_ptr<GnomeDesktop> desktop_;
    Platform platform_;
    std::unique_ptr<FakeBridge> bridge_;
};

TEST_F(GnomeDesktopTest, DisplaysAndWindowsAreSeenFromThePrimaryMonitor) {
    EXPECT_TRUE(platform_.displays->screens().empty()); // no bridge: nothing to say
    EXPECT_EQ(platform_.windowServer->onScreenWindows(), std::nullopt);
    startBridge();

    const auto screens = platform_.displays->screens();
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[0].localizedName, "LG HDR 4K");
    EXPECT_EQ(screens[0].frame, (plinth::Rect{0, 0, 2560, 1440}));
    // Left of the primary, its top 200 below the primary's.
    EXPECT_EQ(screens[1].frame, (plinth::Rect{-1920, 200, 1920, 1080}));
    EXPECT_EQ(screens[1].visibleFrame, screens[1].frame);
    ASSERT_TRUE(platform_.displays->mainDisplay());
    EXPECT_EQ(platform_.displays->mainDisplay()->localizedName, "LG HDR 4K");

    // Front to back; minimized, unplaced and desktop windows left out; menus above the rest.
    const auto windows = platform_.windowServer->onScreenWindows();
    ASSERT_TRUE(windows);
    std::vector<std::string> titles;
    for (const auto& entry : *windows) {
        titles.push_back(entry.title.value_or("?"));
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"menu", "Files", "Docs", "Properties"}));
    const auto& menu = (*windows)[0];
    EXPECT_GE(menu.layer.value(), platform_.windowServer->popUpMenuLevel());
    const auto& files = (*windows)[1];
    EXPECT_EQ(files.layer.value(), 0);
    EXPECT_EQ(files.ownerPid.value(), 41);
    EXPECT_EQ(files.number.value(), 1);
    EXPECT_EQ(files.bounds.value(), (plinth::Rect{100, 40, 800, 600}));
    // Kept above: not an ordinary window, as on X11.
    const auto& docs = (*windows)[2];
    EXPECT_NE(docs.layer.value(), 0);
    EXPECT_EQ(docs.bounds.value(), (plinth::Rect{-1820, 300, 900, 700}));
    EXPECT_EQ((*windows)[3].layer.value(), 0); // a dialog

    // Changes arrive by signals; a burst of them is read once more at most.
    bool displaysChanged = false;
    auto subscription = platform_.workspace->observe(WorkspaceEvent::displaysChanged,
                                                     [&] { displaysChanged = true; });
    bridge_->run([](FakeBridge& b) {
        b.windows.erase(b.windows.begin());
        b.monitors.pop_back();
        b.monitors[0].primary = true;
        for (int i = 0; i < 5; ++i) {
            b.emit("WindowsChanged");
        }
        b.emit("MonitorsChanged");
    });
    ASSERT_TRUE(waitUntil([&] { return displaysChanged; }));
    ASSERT_TRUE(waitUntil([&] { return snapshot().windows->size() == 6; }));
    EXPECT_EQ(platform_.displays->screens().size(), 1u);
    EXPECT_EQ(platform_.displays->screens()[0].frame, (plinth::Rect{0, 0, 1920, 1080}));
}

TEST_F(GnomeDesktopTest, ActivationIsTrueOnlyWhenTheShellFocusesThatProgram) {
    startBridge();
    auto& workspace = *platform_.workspace;
    EXPECT_TRUE(workspace.activateWindow(42, 2));
    EXPECT_EQ(callsOf("Activate"), std::vector<std::string>{"ActivateWindow 4294967298"});
    EXPECT_FALSE(workspace.activateWindow(41, 2)); // not that program's window
    EXPECT_TRUE(callsOf("Activate").empty());

    bridge_->run([](FakeBridge& b) { b.activateAnswer = false; });
    EXPECT_FALSE(workspace.activateWindow(41, 1));
    // The shell says yes, but the focus lands on another program's window.
    bridge_->run([](FakeBridge& b) {
        b.activateAnswer = true;
        b.focusAfterActivate = baseId + 2;
    });
    EXPECT_FALSE(workspace.activateWindow(41, 1));
    // ...or on a window of the same program (its dialog): that is the program's focus.
    bridge_->run([](FakeBridge& b) { b.focusAfterActivate = baseId + 6; });
    EXPECT_TRUE(workspace.activateWindow(41, 1));
    callsOf("Activate");
    EXPECT_TRUE(workspace.activate(41)); // its frontmost window that focus may go to
    EXPECT_EQ(callsOf("Activate"), std::vector<std::string>{"ActivateWindow 4294967297"});

    ASSERT_TRUE(waitUntil([&] { return snapshot().focusWindow == baseId + 6; }));
    const auto front = workspace.frontmostApplication();
    ASSERT_TRUE(front);
    EXPECT_EQ(front->pid, 41);
    EXPECT_EQ(front->applicationId, "org.gnome.Nautilus");
}

TEST_F(GnomeDesktopTest, InputSamplesBecomeMovesClicksFlagsAndKeysButNotOurOwnKeys) {
    startBridge();
    std::vector<InputEvent> events;
    auto& monitor = *platform_.inputMonitor;
    const auto token = monitor.addGlobalMonitor(~std::uint64_t{0},
                                                [&](const InputEvent& e) { events.push_back(e); });
    ASSERT_TRUE(token);
    EXPECT_EQ(callsOf("WatchInput"), std::vector<std::string>{"WatchInput 66"});

    auto sample = [&](int x, int y, std::uint32_t state, std::uint32_t idle) {
        const auto before = events.size();
        bridge_->run([&](FakeBridge& b) { b.emitInput(x, y, state, idle); });
        // Every field, as two samples in a row may share any one of them.
        waitUntil([&] {
            const auto input = snapshot().input;
            return input && input->x == x && input->y == y && input->state == state &&
                   input->idleMilliseconds == idle;
        });
        queue_->runPending();
        return std::vector<InputEvent>(events.begin() + long(before), events.end());
    };
    auto types = [](const std::vector<InputEvent>& list) {
        std::vector<int> result;
        for (const auto& e : list) {
            result.push_back(e.type);
        }
        return result;
    };
    EXPECT_TRUE(sample(2000, 100, 0, 500).empty()); // the first sample only sets the scene
    EXPECT_EQ(types(sample(2010, 100, 0, 10)), std::vector<int>{InputEventType::mouseMoved});
    // The click's position is the pointer's, in the global space.
    EXPECT_EQ(types(sample(2010, 100, 256, 5)), std::vector<int>{InputEventType::leftMouseDown});
    EXPECT_EQ(platform_.windowServer->pointerLocation(), (plinth::Point{90, 100}));
    EXPECT_EQ(types(sample(2030, 120, 256, 5)), std::vector<int>{InputEventType::leftMouseDragged});
    EXPECT_EQ(types(sample(2030, 120, 0, 3)), std::vector<int>{}); // the release says nothing
    // A warp is where the pointer is from then on, before a sample shows it: the guards take
    // that place right after warping, so the sample is no move of the user's.
    platform_.windowServer->warpPointer({50, 60});
    EXPECT_EQ(platform_.windowServer->pointerLocation(), (plinth::Point{50, 60}));
    sample(2030, 120, 0, 3);
    const auto flags = sample(2030, 120, 4 | 1, 2);
    ASSERT_EQ(types(flags), std::vector<int>{InputEventType::flagsChanged});
    EXPECT_EQ(flags[0].modifierFlags, ModifierFlag::control | ModifierFlag::shift);
    // Idle time dropping with nothing else changed: a key, which no chord check matches.
    EXPECT_TRUE(sample(2030, 120, 5, 40).empty()); // idle growing: nothing
    const auto key = sample(2030, 120, 5, 0);
    ASSERT_EQ(types(key), std::vector<int>{InputEventType::keyDown});
    EXPECT_EQ(key[0].key, Key::unknown);
    EXPECT_NE(key[0].key, Key::c);
    // Samples come when something changed, dated by their arrival: a key 400 ms after the one
    // just before the last sample is new input though its idle time is the longer; the same
    // input sampled again later (as when the sampling restarts) is not.
    const CompositorInput typed{2030, 120, 0, 5, 1000};
    EXPECT_EQ(types(SampledInputMonitor::derive(typed, {2030, 120, 0, 20, 1415}, false)),
              std::vector<int>{InputEventType::keyDown});
    EXPECT_TRUE(SampledInputMonitor::derive(typed, {2030, 120, 0, 405, 1402}, false).empty());
    // Modifiers are told against what was told last: a first sample tells those held, and a
    // release left untold while keys were ours is told by the next sample that is not ours.
    const auto first = SampledInputMonitor::derive(std::nullopt, {2030, 120, 4, 9, 1500}, false);
    ASSERT_EQ(types(first), std::vector<int>{InputEventType::flagsChanged});
    EXPECT_EQ(first[0].modifierFlags, ModifierFlag::control);
    EXPECT_TRUE(SampledInputMonitor::derive(std::nullopt, {2030, 120, 0, 9, 1500}, false).empty());
    const CompositorInput released{2030, 120, 0, 9, 1500};
    const auto late = SampledInputMonitor::derive(released, {2030, 120, 0, 80, 1571}, false,
                                                  ModifierFlag::control);
    ASSERT_EQ(types(late), std::vector<int>{InputEventType::flagsChanged});
    EXPECT_EQ(late[0].modifierFlags, 0u);

    // Our own pane shortcut: modifiers pressed, the key, all released; its activity is ours.
    sample(2030, 120, 0, 30);
    callsOf("PostKey");
    ASSERT_TRUE(platform_.windowServer->postKeyEvent(
        Key::downArrow, ModifierFlag::control | ModifierFlag::option, true));
    ASSERT_TRUE(platform_.windowServer->postKeyEvent(Key::downArrow, 0, false));
    EXPECT_EQ(callsOf("PostKey"),
              (std::vector<std::string>{"PostKey 65507 1", "PostKey 65513 1", "PostKey 65364 1",
                                        "PostKey 65364 0", "PostKey 65513 0", "PostKey 65507 0"}));
    EXPECT_TRUE(sample(2030, 120, 0, 1).empty());
    EXPECT_TRUE(sample(2030, 120, 4 | 8, 0).empty());

    monitor.removeMonitor(*token);
    EXPECT_EQ(callsOf("WatchInput"), std::vector<std::string>{"WatchInput 0"});
}

TEST_F(GnomeDesktopTest, ShellDialogsMenusAndOverviewAreTold) {
    startBridge();
    EXPECT_FALSE(platform_.secureInput->isSecureEventInputEnabled());
    for (const char* modal : {"password", "dialog", "locked", "menu", ""}) {
        SCOPED_TRACE(modal);
        bridge_->run([&](FakeBridge& b) {
            b.modal = modal;
            b.emitProperty("ShellModal");
        });
        ASSERT_TRUE(waitUntil([&] { return snapshot().shellModal == modal; }));
        const std::string text = modal;
        EXPECT_EQ(platform_.secureInput->isSecureEventInputEnabled(),
                  text != "menu" && !text.empty());
        EXPECT_EQ(platform_.windowServer->isMenuOpenInsideWindow(), text == "menu");
    }
    bridge_->run([](FakeBridge& b) {
        b.overview = true;
        b.emitProperty("OverviewActive");
    });
    EXPECT_TRUE(waitUntil([&] { return platform_.workspace->isOverviewShowing(); }));
}

TEST_F(GnomeDesktopTest, ABridgeOfAnotherVersionIsRefusedAndOneThatReturnsIsFollowed) {
    startBridge(1);
    EXPECT_FALSE(snapshot().ready);
    EXPECT_TRUE(platform_.displays->screens().empty());
    auto state = platform_.desktopBridge->state();
    EXPECT_EQ(state.status, Status::otherVersion);
    EXPECT_EQ(state.bridgeVersion, 1u);

    // A hot key asked for before the bridge is there is grabbed when it comes.
    int presses = 0;
    const auto hotKey = platform_.hotKeys->registerHotKey(
        Key::g, ModifierFlag::shift | ModifierFlag::command, [&] { ++presses; });
    ASSERT_TRUE(hotKey);
    EXPECT_EQ(platform_.hotKeys->describe(Key::g, ModifierFlag::shift | ModifierFlag::command),
              "Shift+Super+G");
    stopBridge();
    startBridge();
    EXPECT_EQ(platform_.desktopBridge->state().status, Status::ready);
    ASSERT_TRUE(waitUntil([&] { return !callsOf("GrabAccelerator <Shift><Super>g").empty(); }));
    bridge_->run([](FakeBridge& b) { b.emitActivated("AcceleratorActivated", 7, nullptr); });
    ASSERT_TRUE(waitUntil([&] { return presses == 1; }));
    EXPECT_FALSE(platform_.hotKeys->registerHotKey(Key::x, ModifierFlag::command, [] {}));

    // Gone: nothing is known; back: all is read again.
    bool vanished = false;
    auto listening = desktop_->bridge()->listen([&](const CompositorEvent& event) {
        vanished = vanished || event.kind == CompositorEvent::Kind::vanished;
    });
    stopBridge();
    ASSERT_TRUE(waitUntil([&] { return vanished; }));
    EXPECT_EQ(platform_.windowServer->onScreenWindows(), std::nullopt);
    startBridge();
    EXPECT_EQ(platform_.windowServer->onScreenWindows()->size(), 4u);
}

TEST_F(GnomeDesktopTest, TheDotAndTheStatusIconAreTheShells) {
    startBridge();
    platform_.gazeDot->show({100, 50}, 24);
    platform_.gazeDot->hide();
    EXPECT_EQ(callsOf(""), (std::vector<std::string>{"ShowDot 2020 50", "HideDot"}));

    std::vector<std::string> chosen;
    int openings = 0;
    platform_.statusIndicator->onActivated = [&](const std::string& id) {
        chosen.push_back(id);
    };
    platform_.statusIndicator->onOpening = [&] {
        ++openings;
    };
    // The shell is handed the image, not a path it would read.
    const auto icon = std::filesystem::temp_directory_path() /
                      ("orvane-icon-" + std::to_string(::getpid()) + ".svg");
    std::ofstream(icon) << "<svg/>";
    ASSERT_TRUE(platform_.statusIndicator->show(
        icon.string(), "Orvane", {{"pause", "Pause", true, false}, {"", "", true, {}}}));
    EXPECT_FALSE(platform_.statusIndicator->show("/nonexistent.svg", "Orvane", {}));
    std::filesystem::resize_file(icon, 256 * 1024 + 1);
    EXPECT_FALSE(platform_.statusIndicator->show(icon.string(), "Orvane", {}));
    std::filesystem::remove(icon);
    EXPECT_EQ(callsOf("SetIndicator"), (std::vector<std::string>{"SetIndicator 6"}));
    bridge_->run([](FakeBridge& b) {
        EXPECT_EQ(b.indicatorItems.size(), 2u);
        EXPECT_EQ(std::get<3>(b.indicatorItems[0]), 0);
        EXPECT_EQ(std::get<3>(b.indicatorItems[1]), -1);
        b.emit("IndicatorOpening");
        b.emitActivated("IndicatorActivated", 0, "pause");
    });
    ASSERT_TRUE(waitUntil([&] { return chosen.size() == 1; }));
    EXPECT_EQ(chosen[0], "pause");
    EXPECT_EQ(openings, 1);
}

// Another program that takes the bridge's name (as any may while the extension is off, behind
// every screen lock) is neither believed nor sent anything, and the state says so.
TEST_F(GnomeDesktopTest, ABridgeNotOnTheShellsConnectionIsNotBelievedNorCalled) {
    auto shell = std::make_unique<FakeShellExtensions>(bus_.address(), "46.2");
    ASSERT_TRUE(shell->isReady());
    bridge_ = std::make_unique<FakeBridge>(
        bus_.address(), BridgeConnection::version, [](FakeBridge& b) { b.windows = someWindows(); },
        false);
    ASSERT_TRUE(bridge_->isReady());
    ASSERT_TRUE(waitUntil([&] { return !desktop_->bridge()->impostor().empty(); }));
    const auto state = platform_.desktopBridge->state();
    EXPECT_EQ(state.status, Status::failed);
    EXPECT_NE(state.detail.find("Another program"), std::string::npos) << state.detail;
    EXPECT_FALSE(snapshot().present);
    EXPECT_EQ(platform_.windowServer->onScreenWindows(), std::nullopt);
    // Waits for a bridge to come, asking the squatter nothing.
    EXPECT_TRUE(platform_.hotKeys->registerHotKey(Key::g, ModifierFlag::command, [] {}));
    platform_.gazeDot->show({100, 50}, 24);
    EXPECT_EQ(desktop_->bridge()->postKey(0x78, true), false);
    EXPECT_EQ(callsOf(""), std::vector<std::string>{});
}

// A bridge that lists more than any desktop has, or texts longer than anyone reads, costs
// Orvane a bounded amount.
TEST_F(GnomeDesktopTest, WhatTheBridgeListsIsBounded) {
    bridge_ =
        std::make_unique<FakeBridge>(bus_.address(), BridgeConnection::version, [](FakeBridge& b) {
            b.monitors = twoMonitors();
            b.monitors[0].name = std::string(5000, 'm');
            FakeWindow window = someWindows()[1];
            for (int i = 0; i < 3000; ++i) {
                window.id = baseId + 100 + i;
                b.windows.push_back(window);
            }
            // Cut inside the last character kept.
            for (int i : {0, 1}) {
                b.windows[i].title = std::string(1023, 't') + "\xc3\xa9" + std::string(4000, 't');
            }
        });
    ASSERT_TRUE(waitUntil([&] { return snapshot().ready; }));
    const auto s = snapshot();
    EXPECT_EQ(s.windows->size(), 1024u);
    EXPECT_EQ(s.windows->front().id, baseId + 100); // the front-most kept
    EXPECT_EQ(s.windows->front().title, std::string(1023, 't'));
    EXPECT_EQ(s.monitors->front().name.size(), 1024u);
    // Too many monitors for any desktop: the list is not believed at all.
    bridge_->run([](FakeBridge& b) {
        b.monitors.resize(65, b.monitors.front());
        b.windows.erase(b.windows.begin());
        b.emit("MonitorsChanged");
        b.emit("WindowsChanged");
    });
    // The windows are answered after the monitors.
    ASSERT_TRUE(waitUntil([&] { return snapshot().windows->front().id == baseId + 101; }));
    EXPECT_EQ(snapshot().monitors->size(), 2u);
}

TEST_F(GnomeDesktopTest, WithoutItsBridgeTheShellSaysWhatIsWrongWithTheExtension) {
    EXPECT_EQ(platform_.desktopBridge->state().status, Status::unreachable);
    auto shell = std::make_unique<FakeShellExtensions>(bus_.address(), "46.2");
    ASSERT_TRUE(shell->isReady());
    auto state = platform_.desktopBridge->state();
    EXPECT_EQ(state.status, Status::notInstalled);
    EXPECT_EQ(state.desktop, "GNOME Shell 46.2");
    EXPECT_EQ(state.sessionKind, "Wayland");
    EXPECT_EQ(state.bridgeId, GnomeShellExtension::modulesUuid);

    // Installed on disk since the shell started: it loads at the next log-in.
    const auto data =
        std::filesystem::temp_directory_path() / ("orvane-gnome-" + std::to_string(::getpid()));
    const auto folder = data / "gnome-shell/extensions" / GnomeShellExtension::modulesUuid;
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "metadata.json") << "{}";
    variables_["XDG_DATA_DIRS"] = "/nonexistent:" + data.string();
    EXPECT_EQ(platform_.desktopBridge->state().status, Status::needsLogOut);
    std::filesystem::remove_all(data);

    struct Case {
        double state;
        const char* error;
        Status status;
    } const cases[] = {{2, "", Status::disabled},
                       {6, "", Status::disabled},
                       {3, "SyntaxError: bad", Status::failed},
                       {4, "", Status::otherVersion}};
    for (const auto& c : cases) {
        shell->run([&](FakeShellExtensions& s) {
            s.extensions[GnomeShellExtension::modulesUuid] = {c.state, c.error};
        });
        state = platform_.desktopBridge->state();
        EXPECT_EQ(state.status, c.status) << c.state;
        EXPECT_EQ(state.detail, c.error);
    }
    EXPECT_TRUE(platform_.desktopBridge->enable());
    // A shell of 44 loads the legacy form.
    shell->run([](FakeShellExtensions& s) { s.shellVersion = "44.1"; });
    state = platform_.desktopBridge->state();
    EXPECT_EQ(state.status, Status::notInstalled);
    EXPECT_EQ(state.bridgeId, GnomeShellExtension::legacyUuid);
    EXPECT_TRUE(platform_.desktopBridge->enable());
    shell->run([](FakeShellExtensions& s) {
        EXPECT_EQ(s.enabled, (std::vector<std::string>{GnomeShellExtension::modulesUuid,
                                                       GnomeShellExtension::legacyUuid}));
    });
}

} // namespace
} // namespace orvane::linuxbackend::test
