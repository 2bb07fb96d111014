// The sway link on a real sway (scripts/sway-desktop.sh: headless, two outputs side by side):
// real GTK and Qt windows listed, one Qt window moved to the right output, each activated
// exactly; the pause chord bound at run time and pressed through a virtual keyboard; outputs
// added and turned off.
#include "linux/support/ChildProcess.hpp"
#include "unit/SessionBusTestSupport.hpp"

#include "backends/linux/wayland/LinkBridge.hpp"
#include "backends/linux/wayland/sway/SwayHotKeys.hpp"
#include "backends/linux/wayland/sway/SwayIpc.hpp"
#include "backends/linux/wayland/sway/SwayJson.hpp"
#include "backends/linux/wayland/sway/SwayLink.hpp"
#include "orvane/platform/WindowServer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace orvane::linuxbackend {
namespace {

using namespace std::chrono_literals;
using test::SignallingMainQueue;

class SwaySession : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::getenv("SWAYSOCK")) << "run under scripts/sway-desktop.sh";
        link_ =
            std::make_shared<SwayLink>(queue_, [](const char* name) { return std::getenv(name); });
        events_ = link_->listen([this](const CompositorEvent& event) { heard_.push_back(event); });
        ASSERT_TRUE(queue_->runTasksUntil([&] { return link_->snapshot().ready; }));
    }

    std::optional<CompositorWindow> window(const std::string& title) {
        const auto snapshot = link_->snapshot();
        if (snapshot.windows) {
            for (const auto& window : *snapshot.windows) {
                if (window.title == title) {
                    return window;
                }
            }
        }
        return std::nullopt;
    }

    void start(const std::vector<std::string>& command) {
        children_.emplace_back(test::spawn(command));
        ASSERT_GT(children_.back().pid, 0) << command[0];
    }

    std::shared_ptr<SignallingMainQueue> queue_ = std::make_shared<SignallingMainQueue>();
    std::shared_ptr<SwayLink> link_;
    Subscription events_;
    std::vector<CompositorEvent> heard_;
    std::vector<test::Child> children_;
};

TEST_F(SwaySession, ListsAndActivatesRealWindowsOnBothOutputsAndFollowsOutputs) {
    auto snapshot = link_->snapshot();
    ASSERT_TRUE(snapshot.monitors);
    ASSERT_EQ(snapshot.monitors->size(), 2u);
    EXPECT_EQ((*snapshot.monitors)[0].stageFrame.x, 0);
    EXPECT_EQ((*snapshot.monitors)[1].stageFrame.x, 1920);
    EXPECT_EQ(snapshot.compositorVersion, std::getenv("ORVANE_COMPOSITOR_VERSION"));
    const auto state = LinkBridge(link_, {"sway", "the IPC socket of sway", "SWAYSOCK"}).state();
    EXPECT_EQ(state.status, DesktopBridgeStatus::ready);
    EXPECT_EQ(state.desktop, "sway " + snapshot.compositorVersion);

    const std::string clients = ORVANE_TEST_CLIENTS_DIR;
    start({"/usr/bin/python3", clients + "/gtk-window-at.py", "sway-gtk", "0", "0"});
    start({"/usr/bin/python3", clients + "/qt-two-windows.py", "sway-qt", "0", "0", "0"});
    ASSERT_TRUE(queue_->runTasksUntil(
        [&] { return window("sway-gtk") && window("sway-qt-left") && window("sway-qt-right"); },
        20s));
    const auto right = *window("sway-qt-right");
    ASSERT_TRUE(link_->runCommand("[con_id=" + std::to_string(right.id) +
                                  "] move container to output HEADLESS-2"));
    ASSERT_TRUE(queue_->runTasksUntil([&] { return window("sway-qt-right")->monitor == 1; }));

    const auto gtk = *window("sway-gtk");
    const auto left = *window("sway-qt-left");
    EXPECT_EQ(gtk.monitor, 0);
    EXPECT_EQ(left.monitor, 0);
    EXPECT_EQ(left.pid, right.pid); // one program: only the exact window tells them apart
    EXPECT_NE(gtk.pid, left.pid);
    EXPECT_GT(gtk.frame.width, 0);
    EXPECT_GE(window("sway-qt-right")->frame.x, 1920);

    // Each in turn, as the gaze would go: left, right, left, right.
    std::vector<double> milliseconds;
    for (const auto& target : {gtk, right, left, right, gtk}) {
        heard_.clear();
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(link_->activateWindow(target.id), target.id) << target.title;
        milliseconds.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
                .count());
        // The link's own cache follows from sway's events.
        EXPECT_TRUE(queue_->runTasksUntil([&] {
            return link_->snapshot().focusWindow == target.id;
        })) << target.title;
    }
    std::sort(milliseconds.begin(), milliseconds.end());
    std::printf("sway %s: exact activation answered in %.2f ms (median), %.2f ms (max)\n",
                snapshot.compositorVersion.c_str(), milliseconds[milliseconds.size() / 2],
                milliseconds.back());
    EXPECT_FALSE(link_->activateWindow(999999)); // no such container: refused, not "done"
    EXPECT_TRUE(link_->warpPointer(2500, 500));

    // A third output made, and one turned off: the link sees what sway says it has. (sway 1.7
    // cannot turn a headless output off; it keeps it.)
    const auto swayOutputs = [] {
        auto ipc = SwayIpc::connect(std::getenv("SWAYSOCK"));
        const auto reply = ipc ? ipc->request(SwayIpc::getOutputs, "", 1s) : std::nullopt;
        return reply ? SwayJson::monitors(*reply).value_or(std::vector<CompositorMonitor>{}).size()
                     : 0;
    };
    const auto followed = [&](std::size_t count) {
        return queue_->runTasksUntil([&] {
            const auto s = link_->snapshot();
            return s.monitors && s.monitors->size() == count;
        });
    };
    heard_.clear();
    ASSERT_TRUE(link_->runCommand("create_output"));
    ASSERT_TRUE(followed(3));
    EXPECT_EQ((*link_->snapshot().monitors)[2].stageFrame.x, 3840);
    // The snapshot changes before the event posted about it runs on the main queue.
    EXPECT_TRUE(queue_->runTasksUntil([&] {
        return std::any_of(heard_.begin(), heard_.end(), [](const CompositorEvent& event) {
            return event.kind == CompositorEvent::Kind::monitorsChanged;
        });
    }));
    ASSERT_TRUE(link_->runCommand("output HEADLESS-2 disable"));
    // Something to hear after the change, for a sway that sends no output events.
    link_->activateWindow(gtk.id);
    EXPECT_TRUE(queue_->runTasksUntil([&] {
        const auto s = link_->snapshot();
        return s.monitors && s.monitors->size() == swayOutputs();
    }));
}

TEST_F(SwaySession, PauseChordIsBoundAtRunTimeAndHeardWhenPressed) {
    SwayHotKeys hotKeys(link_);
    int pressed = 0;
    const auto token = hotKeys.registerHotKey(Key::g, ModifierFlag::shift | ModifierFlag::command,
                                              [&] { ++pressed; });
    ASSERT_TRUE(token);
    EXPECT_EQ(hotKeys.describe(Key::g, ModifierFlag::shift | ModifierFlag::command),
              "Shift+Super+G");
    start({"wtype", "-M", "logo", "-M", "shift", "-k", "g", "-m", "shift", "-m", "logo"});
    EXPECT_TRUE(queue_->runTasksUntil([&] { return pressed == 1; }, 10s));

    // A reloaded config drops run-time bindings: the chord is bound again.
    ASSERT_TRUE(link_->runCommand("reload"));
    heard_.clear();
    ASSERT_TRUE(queue_->runTasksUntil([&] {
        return std::any_of(heard_.begin(), heard_.end(), [](const CompositorEvent& event) {
            return event.kind == CompositorEvent::Kind::ready;
        });
    }));
    start({"wtype", "-M", "logo", "-M", "shift", "-k", "g", "-m", "shift", "-m", "logo"});
    EXPECT_TRUE(queue_->runTasksUntil([&] { return pressed == 2; }, 10s));

    hotKeys.unregisterHotKey(*token);
    const auto config = link_->loadedConfig();
    ASSERT_TRUE(config);
    EXPECT_FALSE(SwayHotKeys::configBinds(*config, "Mod4+Shift+g"));
}

} // namespace
} // namespace orvane::linuxbackend
