#include "SwayFakeIpc.hpp"
#include "unit/SessionBusTestSupport.hpp"

#include "orvane/platform/Platform.hpp"

#include "backends/linux/wayland/sway/SwayHotKeys.hpp"
#include "backends/linux/wayland/sway/SwayIpc.hpp"
#include "backends/linux/wayland/sway/SwayJson.hpp"
#include "backends/linux/wayland/sway/SwayLink.hpp"
#include "orvane/platform/WindowServer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

using namespace std::chrono_literals;
using test::SignallingMainQueue;
using test::SwayFakeIpc;

// Two outputs side by side, the right one listed first; a tiled GTK window on the left one
// with a title bar, a floating Qt window over it, a tabbed-away window, one in the scratchpad
// and a full-screen one on the right output, which has the focus.
constexpr const char* outputs = R"([
  {"name":"HEADLESS-2","make":"headless","model":"headless","active":true,
   "rect":{"x":1920,"y":0,"width":1920,"height":1080}},
  {"name":"DP-9","active":false,"rect":{"x":0,"y":0,"width":0,"height":0}},
  {"name":"HEADLESS-1","make":"Unknown","model":"Unknown","active":true,
   "rect":{"x":0,"y":0,"width":1920,"height":1080}}])";

constexpr const char* tree = R"({"id":1,"type":"root","nodes":[
  {"id":2147483647,"type":"output","name":"__i3","nodes":[
    {"id":2147483646,"type":"workspace","name":"__i3_scratch","floating_nodes":[
      {"id":30,"type":"floating_con","name":"stash","pid":77,"app_id":"stash","visible":false,
       "rect":{"x":0,"y":0,"width":10,"height":10}}]}]},
  {"id":3,"type":"output","name":"HEADLESS-1","nodes":[
    {"id":4,"type":"workspace","name":"1","nodes":[
      {"id":9,"type":"con","name":"gtk","pid":46,"app_id":"gtk-window-at.py","visible":true,
       "focused":false,"rect":{"x":0,"y":27,"width":960,"height":1053},
       "deco_rect":{"x":0,"y":0,"width":960,"height":27},
       "window_rect":{"x":2,"y":0,"width":956,"height":1051}},
      {"id":11,"type":"con","name":null,"nodes":[
        {"id":12,"type":"con","name":"hidden tab","pid":48,"app_id":null,"visible":false,
         "window_properties":{"class":"XTerm","window_type":"normal"},
         "rect":{"x":960,"y":0,"width":960,"height":1080}}]}],
     "floating_nodes":[
      {"id":20,"type":"floating_con","name":"under","pid":47,"app_id":"python3","visible":true,
       "rect":{"x":100,"y":100,"width":300,"height":200}},
      {"id":21,"type":"floating_con","name":"dialog","pid":47,"app_id":"python3","visible":true,
       "window_properties":{"class":"x","window_type":"dialog"},
       "rect":{"x":150,"y":150,"width":300,"height":200}}]}]},
  {"id":5,"type":"output","name":"HEADLESS-2","nodes":[
    {"id":6,"type":"workspace","name":"2","nodes":[
      {"id":8,"type":"con","name":"qt-right","pid":47,"app_id":"python3","visible":true,
       "focused":true,"fullscreen_mode":1,"rect":{"x":1920,"y":0,"width":1920,"height":1080},
       "deco_rect":{"x":0,"y":0,"width":0,"height":0},
       "window_rect":{"x":0,"y":0,"width":1920,"height":1080}}]}]}]})";

// A tree of `views` windows on one workspace of HEADLESS-1, the first titled `title`.
std::string treeOf(std::size_t views, const std::string& title = "w") {
    std::string nodes;
    for (std::size_t i = 0; i < views; ++i) {
        nodes += std::string(i ? "," : "") + R"({"id":)" + std::to_string(100 + i) +
                 R"(,"type":"con","pid":5,"app_id":"a","name":")" + (i ? "w" : title) +
                 R"(","rect":{"x":0,"y":0,"width":10,"height":10}})";
    }
    return R"({"id":1,"type":"root","nodes":[{"id":3,"type":"output","name":"HEADLESS-1",
             "nodes":[{"id":4,"type":"workspace","name":"1","nodes":[)" +
           nodes + "]}]}]}";
}

// A frame header announcing `length` bytes of payload.
std::string headerFor(std::uint32_t length) {
    std::string header = SwayIpc::encode(SwayIpc::getTree, "");
    std::memcpy(header.data() + 6, &length, sizeof length);
    return header;
}

const CompositorWindow* byId(const std::vector<CompositorWindow>& windows, std::uint64_t id) {
    const auto found = std::find_if(windows.begin(), windows.end(),
                                    [id](const CompositorWindow& w) { return w.id == id; });
    return found == windows.end() ? nullptr : &*found;
}

TEST(SwayIpc, FramesRoundTripAcrossSplitReadsAndRefuseGarbage) {
    SwayIpc::FrameReader reader;
    const std::string first = SwayIpc::encode(SwayIpc::getTree, R"({"id":1})");
    const std::string second = SwayIpc::encode(SwayIpc::windowEvent, "");
    const std::string stream = first + second;
    // Byte by byte, as a slow socket may give them.
    std::vector<SwayIpc::Message> messages;
    for (char byte : stream) {
        reader.feed(&byte, 1);
        while (auto message = reader.next()) {
            messages.push_back(*message);
        }
    }
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].type, SwayIpc::getTree);
    EXPECT_EQ(messages[0].payload, R"({"id":1})");
    EXPECT_EQ(messages[1].type, SwayIpc::windowEvent);
    EXPECT_TRUE(messages[1].payload.empty());

    SwayIpc::FrameReader wrongMagic;
    const std::string bad = "i3-ipX" + first.substr(6);
    wrongMagic.feed(bad.data(), bad.size());
    EXPECT_FALSE(wrongMagic.next());
    EXPECT_TRUE(wrongMagic.broken());
    // Nothing after a broken frame is believed, even a good one.
    wrongMagic.feed(first.data(), first.size());
    EXPECT_FALSE(wrongMagic.next());

    EXPECT_NE(wrongMagic.problem().find("not framed"), std::string::npos);

    // A declared length is believed only up to the bound, before a byte of it is read.
    SwayIpc::FrameReader huge;
    const std::string tooLong = headerFor(SwayIpc::maximumPayload + 1);
    huge.feed(tooLong.data(), tooLong.size());
    EXPECT_FALSE(huge.next());
    EXPECT_TRUE(huge.broken());
    EXPECT_NE(huge.problem().find(std::to_string(SwayIpc::maximumPayload + 1) + " bytes"),
              std::string::npos)
        << huge.problem();
    SwayIpc::FrameReader longest;
    const std::string atTheBound = headerFor(SwayIpc::maximumPayload);
    longest.feed(atTheBound.data(), atTheBound.size());
    EXPECT_FALSE(longest.next()); // waits for the rest
    EXPECT_FALSE(longest.broken());
}

TEST(SwayJson, OutputsAreTheActiveOnesWithTheOneAtTheOriginFirst) {
    const auto monitors = SwayJson::monitors(outputs);
    ASSERT_TRUE(monitors);
    ASSERT_EQ(monitors->size(), 2u);
    EXPECT_EQ((*monitors)[0].connector, "HEADLESS-1");
    EXPECT_TRUE((*monitors)[0].primary);
    EXPECT_EQ((*monitors)[0].name, "HEADLESS-1"); // "Unknown" is no name
    EXPECT_EQ((*monitors)[1].connector, "HEADLESS-2");
    EXPECT_EQ((*monitors)[1].name, "headless"); // the maker's name once
    EXPECT_FALSE((*monitors)[1].primary);
    EXPECT_EQ((*monitors)[1].stageFrame.x, 1920);

    for (const char* garbage : {"", "{", "{}", "[1, \"x\", null]"}) {
        const auto read = SwayJson::monitors(garbage);
        EXPECT_TRUE(!read || read->empty()) << garbage;
    }
}

TEST(SwayJson, TreeGivesViewsFrontToBackWithFramesMonitorsAndHiddenOnesMinimised) {
    const auto monitors = *SwayJson::monitors(outputs);
    const auto read = SwayJson::windows(tree, monitors);
    ASSERT_TRUE(read);
    const auto& windows = read->windows;
    EXPECT_EQ(read->focus, 8u);
    ASSERT_EQ(windows.size(), 6u); // views only: no split container, workspace or output
    // Full screen first, then the floating ones top first, then the tiled, then the hidden.
    std::vector<std::uint64_t> order;
    for (const auto& window : windows) {
        order.push_back(window.id);
    }
    EXPECT_EQ(order, (std::vector<std::uint64_t>{8, 21, 20, 9, 30, 12}));

    const auto* gtk = byId(windows, 9);
    EXPECT_EQ(gtk->pid, 46u);
    EXPECT_EQ(gtk->applicationId, "gtk-window-at.py");
    EXPECT_EQ(gtk->monitor, 0);
    EXPECT_FALSE(gtk->minimized);
    // The title bar is part of the frame; the buffer is the client's own area.
    EXPECT_EQ(gtk->frame.y, 0);
    EXPECT_EQ(gtk->frame.height, 1080);
    EXPECT_EQ(gtk->buffer.x, 2);
    EXPECT_EQ(gtk->buffer.y, 27);
    EXPECT_EQ(gtk->buffer.width, 956);

    EXPECT_EQ(byId(windows, 8)->monitor, 1);
    EXPECT_EQ(byId(windows, 21)->type, "dialog");
    EXPECT_EQ(byId(windows, 20)->type, "normal");
    const auto* tab = byId(windows, 12);
    EXPECT_TRUE(tab->minimized);
    EXPECT_EQ(tab->applicationId, "XTerm"); // no app_id: the X11 class
    EXPECT_EQ(tab->title, "hidden tab");
    const auto* stash = byId(windows, 30);
    EXPECT_TRUE(stash->minimized);
    EXPECT_EQ(stash->monitor, -1);

    EXPECT_FALSE(SwayJson::windows("[]", monitors));
    EXPECT_FALSE(SwayJson::windows("{\"nodes\":", monitors));
    // Wrong types where numbers and lists belong are skipped, not thrown over.
    const auto odd = SwayJson::windows(
        R"({"type":"root","nodes":[{"id":"x","pid":1},{"id":5,"pid":"y","rect":7,"nodes":3}]})",
        monitors);
    ASSERT_TRUE(odd);
    ASSERT_EQ(odd->windows.size(), 1u);
    EXPECT_EQ(odd->windows[0].pid, 0u);
}

TEST(SwayJson, TreesOutputsAndEventsPastTheirBoundsAreDroppedWholeOrCut) {
    const auto monitors = *SwayJson::monitors(outputs);
    std::string problem;
    const auto most = SwayJson::windows(treeOf(SwayJson::maximumWindows), monitors, &problem);
    ASSERT_TRUE(most) << problem;
    EXPECT_EQ(most->windows.size(), SwayJson::maximumWindows);
    EXPECT_FALSE(SwayJson::windows(treeOf(SwayJson::maximumWindows + 1), monitors, &problem));
    EXPECT_NE(problem.find("more than 2048 windows"), std::string::npos) << problem;

    // Containers in containers as deep as the text goes: refused at the bound, no recursion.
    std::string deep;
    for (int i = 0; i < 100'000; ++i) {
        deep += R"({"type":"con","nodes":[)";
    }
    EXPECT_FALSE(SwayJson::windows(deep, monitors, &problem));
    EXPECT_NE(problem.find("deeper"), std::string::npos) << problem;
    EXPECT_FALSE(SwayJson::change(deep));

    // A long title is kept cut, between characters.
    std::string title;
    for (int i = 0; i < 3000; ++i) {
        title += "\u00e9";
    }
    const auto cut = SwayJson::windows(treeOf(1, title), monitors);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->windows[0].title.size(), SwayJson::titleBytes);
    EXPECT_EQ(cut->windows[0].title.substr(0, 2), "\u00e9");

    std::string many = "[";
    for (std::size_t i = 0; i <= SwayJson::maximumOutputs; ++i) {
        many += std::string(i ? "," : "") + R"({"name":"O)" + std::to_string(i) +
                R"(","active":true,"rect":{"x":0,"y":0,"width":9,"height":9}})";
    }
    EXPECT_FALSE(SwayJson::monitors(many + "]", &problem));
    EXPECT_NE(problem.find("65 outputs"), std::string::npos) << problem;

    const auto command = SwayJson::bindingCommand(R"({"change":"run","binding":{"command":")" +
                                                  std::string(10'000, 'x') + R"("}})");
    ASSERT_TRUE(command);
    EXPECT_EQ(command->size(), SwayJson::commandBytes);
}

TEST(SwayJson, RepliesAndEvents) {
    std::string error;
    EXPECT_TRUE(SwayJson::commandSucceeded(R"([{"success":true},{"success":true}])"));
    EXPECT_FALSE(SwayJson::commandSucceeded(
        R"([{"success":true},{"success":false,"error":"No matching node."}])", &error));
    EXPECT_EQ(error, "No matching node.");
    EXPECT_FALSE(SwayJson::commandSucceeded("[]"));
    EXPECT_FALSE(SwayJson::commandSucceeded("nonsense"));
    EXPECT_EQ(SwayJson::version(R"j({"human_readable":"1.10-dev-abc (Jan 1)","major":1})j"),
              "1.10-dev-abc");
    EXPECT_EQ(SwayJson::version(R"({"major":1,"minor":7,"patch":0})"), "1.7.0");
    EXPECT_EQ(SwayJson::seatName(R"([{"name":"seat0"}])"), "seat0");
    EXPECT_FALSE(SwayJson::seatName("[]"));
    EXPECT_EQ(SwayJson::bindingCommand(R"({"change":"run","binding":{"command":"nop x"}})"),
              "nop x");
    EXPECT_FALSE(SwayJson::bindingCommand(R"({"change":"run","binding":7})"));
    EXPECT_EQ(SwayJson::configText(R"({"config":"bindsym a b"})"), "bindsym a b");
    EXPECT_FALSE(SwayJson::configText(R"({"config":3})"));
}

TEST(SwayHotKeys, ChordsInSwaysWordsAndTheUsersOwnBindingsOfThem) {
    EXPECT_EQ(SwayHotKeys::swayChord(Key::g, ModifierFlag::shift | ModifierFlag::command),
              "Shift+Mod4+g");
    EXPECT_EQ(SwayHotKeys::swayChord(Key::g, ModifierFlag::control | ModifierFlag::option),
              "Ctrl+Mod1+g");
    EXPECT_FALSE(SwayHotKeys::swayChord(Key::unknown, ModifierFlag::shift));

    const std::string config = "set $mod Mod4\n"
                               "bindsym $mod+Return exec foot\n"
                               "  bindsym --to-code --no-repeat Shift+$mod+G exec mine\n"
                               "# bindsym Mod1+g exec commented\n"
                               "bindcode Mod1+42 exec code\n";
    EXPECT_TRUE(SwayHotKeys::configBinds(config, "Mod4+Shift+g"));
    EXPECT_TRUE(SwayHotKeys::configBinds(config, "Super+Return"));
    EXPECT_FALSE(SwayHotKeys::configBinds(config, "Mod1+g"));
    EXPECT_FALSE(SwayHotKeys::configBinds(config, "Mod4+g"));
    EXPECT_FALSE(SwayHotKeys::configBinds("", "Mod4+g"));
}

class SwayLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvane-sway-test.XXXXXX";
        ASSERT_TRUE(::mkdtemp(pattern));
        dir_ = pattern;
        fake_ = std::make_unique<SwayFakeIpc>(dir_ / "sway-ipc.sock");
        fake_->answer(SwayIpc::getOutputs, outputs);
        fake_->answer(SwayIpc::getTree, tree);
        fake_->answer(SwayIpc::getVersion, R"({"human_readable":"1.10.1"})");
        fake_->answer(SwayIpc::getSeats, R"([{"name":"seat7"}])");
    }
    void TearDown() override {
        link_.reset();
        fake_.reset();
        std::filesystem::remove_all(dir_);
    }

    void open() {
        const std::string sock = fake_->path().string();
        const std::string runtime = dir_.string();
        link_ =
            std::make_shared<SwayLink>(queue_, [sock, runtime](const char* name) -> const char* {
                if (std::string(name) == "SWAYSOCK") {
                    return sock.c_str();
                }
                return std::string(name) == "XDG_RUNTIME_DIR" ? runtime.c_str() : nullptr;
            });
        events_ =
            link_->listen([this](const CompositorEvent& event) { heard_.push_back(event.kind); });
    }

    bool heard(CompositorEvent::Kind kind) {
        return queue_->runTasksUntil(
            [&] { return std::find(heard_.begin(), heard_.end(), kind) != heard_.end(); });
    }

    std::filesystem::path dir_;
    std::unique_ptr<SwayFakeIpc> fake_;
    std::shared_ptr<SignallingMainQueue> queue_ = std::make_shared<SignallingMainQueue>();
    std::shared_ptr<SwayLink> link_;
    Subscription events_;
    std::vector<CompositorEvent::Kind> heard_;
};

TEST_F(SwayLinkTest, ReadsSwayFollowsItsEventsAndActivatesExactly) {
    open();
    ASSERT_TRUE(link_->waitUntilSettled(5s));
    ASSERT_TRUE(heard(CompositorEvent::Kind::ready));
    auto snapshot = link_->snapshot();
    EXPECT_TRUE(snapshot.ready);
    EXPECT_EQ(snapshot.compositorVersion, "1.10.1");
    ASSERT_TRUE(snapshot.monitors && snapshot.windows);
    EXPECT_EQ(snapshot.monitors->size(), 2u);
    EXPECT_EQ(snapshot.windows->size(), 6u);
    EXPECT_EQ(snapshot.focusWindow, 8u);

    // A window closed and focus moved: the tree is read again after the event.
    fake_->answer(SwayIpc::getTree, R"({"id":1,"type":"root","nodes":[
      {"id":3,"type":"output","name":"HEADLESS-1","nodes":[{"id":4,"type":"workspace","nodes":[
        {"id":9,"type":"con","name":"gtk","pid":46,"focused":true,
         "rect":{"x":0,"y":0,"width":1920,"height":1080}}]}]}]})");
    fake_->sendEvent(SwayIpc::windowEvent, R"({"change":"close"})");
    ASSERT_TRUE(heard(CompositorEvent::Kind::windowsChanged));
    ASSERT_TRUE(heard(CompositorEvent::Kind::focusChanged));
    snapshot = link_->snapshot();
    EXPECT_EQ(snapshot.windows->size(), 1u);
    EXPECT_EQ(snapshot.focusWindow, 9u);

    // Activation names the exact container and answers with the window sway then focuses.
    EXPECT_EQ(link_->activateWindow(9), 9u);
    EXPECT_TRUE(link_->warpPointer(2000, 300));
    const auto commands = fake_->commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[commands.size() - 2], "[con_id=9] focus");
    EXPECT_EQ(commands.back(), "seat seat7 cursor set 2000 300");
    EXPECT_FALSE(link_->queryPointer());
    EXPECT_FALSE(link_->postKey(0x67, true));
    EXPECT_FALSE(link_->watchInput(100));

    fake_->answer(SwayIpc::runCommand, R"([{"success":false,"error":"No matching node."}])");
    EXPECT_FALSE(link_->activateWindow(404));

    // The binding Orvane set reaches the listeners by its command.
    std::string command;
    auto bindings = link_->listen([&](const CompositorEvent& event) {
        if (event.kind == CompositorEvent::Kind::acceleratorActivated) {
            command = event.id;
        }
    });
    fake_->sendEvent(SwayIpc::bindingEvent,
                     R"({"change":"run","binding":{"command":"nop orvane-hot-key Mod4+g"}})");
    EXPECT_TRUE(queue_->runTasksUntil([&] { return !command.empty(); }));
    EXPECT_EQ(command, "nop orvane-hot-key Mod4+g");
}

TEST_F(SwayLinkTest, HotKeysAreBoundOnceSwayAnswersAndAgainAfterItComesBack) {
    fake_->hangUp();
    open();
    SwayHotKeys hotKeys(link_);
    int pressed = 0;
    // Registered before sway answers: bound when it does.
    ASSERT_TRUE(hotKeys.registerHotKey(Key::g, ModifierFlag::shift | ModifierFlag::command,
                                       [&] { ++pressed; }));
    const std::string bind = "bindsym --no-warn Shift+Mod4+g nop orvane-hot-key Shift+Mod4+g";
    fake_->start();
    ASSERT_TRUE(heard(CompositorEvent::Kind::ready));
    EXPECT_EQ(fake_->commands(), std::vector<std::string>{bind});
    fake_->sendEvent(SwayIpc::bindingEvent,
                     R"({"change":"run","binding":{"command":"nop orvane-hot-key Shift+Mod4+g"}})");
    EXPECT_TRUE(queue_->runTasksUntil([&] { return pressed == 1; }));

    // A chord the user's config binds is theirs.
    fake_->answer(SwayIpc::getConfig, R"({"config":"set $m Mod4\nbindsym $m+Shift+x exec a"})");
    EXPECT_FALSE(
        hotKeys.registerHotKey(Key::x, ModifierFlag::shift | ModifierFlag::command, [] {}));
    EXPECT_EQ(fake_->commands().size(), 1u);
}

TEST_F(SwayLinkTest, VanishesWhenSwayGoesAndComesBackWithIt) {
    open();
    ASSERT_TRUE(heard(CompositorEvent::Kind::ready));
    heard_.clear();
    fake_->hangUp();
    ASSERT_TRUE(heard(CompositorEvent::Kind::vanished));
    EXPECT_FALSE(link_->snapshot().ready);
    EXPECT_FALSE(link_->snapshot().windows);
    EXPECT_FALSE(link_->activateWindow(9));

    heard_.clear();
    fake_->start();
    ASSERT_TRUE(heard(CompositorEvent::Kind::ready));
    EXPECT_TRUE(link_->snapshot().ready);
    // The command connection left from before is replaced, not reported as a failure.
    fake_->answer(SwayIpc::runCommand, R"([{"success":true}])");
    EXPECT_EQ(link_->activateWindow(8), 8u);
}

TEST_F(SwayLinkTest, RepliesThatNeverComeOrMakeNoSenseAreBounded) {
    open();
    ASSERT_TRUE(heard(CompositorEvent::Kind::ready));
    fake_->setSilent(true);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(link_->activateWindow(9));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    fake_->setSilent(false);

    // A frame that is not sway's ends that connection; the next request opens another.
    // Asked again at once there, as for a connection left from a sway that restarted.
    fake_->answerNextWithBytes(std::string("i3-ipc\xff\xff\xff\x7f\0\0\0\0", 14));
    const auto before = fake_->commands().size();
    EXPECT_TRUE(link_->warpPointer(1, 1));
    EXPECT_EQ(fake_->commands().size(), before + 2);
}

TEST_F(SwayLinkTest, ATreeItCannotUseIsDroppedAndAFrameTooLongEndsOnlyItsConnection) {
    test::LogCapture log;
    open();
    ASSERT_TRUE(heard(CompositorEvent::Kind::ready));
    heard_.clear();

    // Dropped with one line; what was known stays, and sway is still followed.
    fake_->answer(SwayIpc::getTree, treeOf(SwayJson::maximumWindows + 1));
    fake_->sendEvent(SwayIpc::windowEvent, R"({"change":"new"})");
    ASSERT_TRUE(
        log.sink->waitForLine(LogLevel::info, "dropped sway's tree: more than 2048 windows"));
    EXPECT_EQ(log.sink->lines(LogLevel::info).size(), 1u);
    EXPECT_TRUE(link_->snapshot().ready);
    EXPECT_EQ(link_->snapshot().windows->size(), 6u);
    fake_->answer(SwayIpc::getTree, treeOf(2));
    fake_->sendEvent(SwayIpc::windowEvent, R"({"change":"close"})");
    ASSERT_TRUE(heard(CompositorEvent::Kind::windowsChanged));
    EXPECT_EQ(link_->snapshot().windows->size(), 2u);
    EXPECT_EQ(std::count(heard_.begin(), heard_.end(), CompositorEvent::Kind::vanished), 0);

    // A frame announcing more than sway sends is not read: that connection is dropped, said
    // so, and a new one made.
    fake_->answerNextWithBytes(headerFor(SwayIpc::maximumPayload + 1));
    fake_->sendEvent(SwayIpc::windowEvent, R"({"change":"title"})");
    ASSERT_TRUE(heard(CompositorEvent::Kind::vanished));
    EXPECT_TRUE(log.sink->waitForLine(LogLevel::info,
                                      "sway sent a message of " +
                                          std::to_string(SwayIpc::maximumPayload + 1) + " bytes"));
    heard_.clear();
    ASSERT_TRUE(heard(CompositorEvent::Kind::ready));
    EXPECT_EQ(link_->snapshot().windows->size(), 2u);
}

TEST_F(SwayLinkTest, SettlesWithoutSwayAndFindsOneThatStartsLater) {
    fake_->hangUp();
    open();
    ASSERT_TRUE(link_->waitUntilSettled(5s));
    EXPECT_FALSE(link_->snapshot().present);
    fake_->start();
    ASSERT_TRUE(heard(CompositorEvent::Kind::ready));
}

} // namespace
} // namespace orvane::linuxbackend
