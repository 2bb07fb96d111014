#include "HyprlandFakeSockets.hpp"
#include "unit/SessionBusTestSupport.hpp"

#include "backends/linux/wayland/client/ForeignToplevels.hpp"
#include "backends/linux/wayland/hyprland/HyprlandHotKeys.hpp"
#include "backends/linux/wayland/hyprland/HyprlandIpc.hpp"
#include "backends/linux/wayland/hyprland/HyprlandJson.hpp"
#include "backends/linux/wayland/hyprland/HyprlandLink.hpp"
#include "backends/linux/wayland/hyprland/HyprlandToplevels.hpp"
#include "orvane/platform/Platform.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

using namespace std::chrono_literals;
using test::hyprlandEventLines;
using test::HyprlandFakeSockets;
using test::hyprlandTranscript;
using test::SignallingMainQueue;

constexpr std::uint64_t firefox = 0x55d0c6e75980;
constexpr std::uint64_t kitty = 0x55d0c6e557f0;
constexpr std::uint64_t nautilus = 0x55d0c6f01a20;
constexpr std::uint64_t htop = 0x55d0c6f11b30;
constexpr std::uint64_t tabBehind = 0x55d0c6f21c40;
constexpr std::uint64_t volume = 0x55d0c6f31d50;
constexpr std::uint64_t portal = 0x55d0c6f41e60;
constexpr std::uint64_t foot = 0x55d0c7a0b0c0;

// `count` clients on workspace 1 of DP-1, the first titled `title`.
std::string clientsOf(std::size_t count, const std::string& title = "w") {
    std::string list = "[";
    for (std::size_t i = 0; i < count; ++i) {
        list += std::string(i ? "," : "") + R"({"address":"0x)" + std::to_string(1000 + i) +
                R"(","mapped":true,"hidden":false,"at":[0,0],"size":[10,10],)" +
                R"("workspace":{"id":1,"name":"1"},"monitor":0,"class":"a","title":")" +
                (i ? "w" : title) + R"(","pid":5,"focusHistoryID":)" + std::to_string(i) + "}";
    }
    return list + "]";
}

std::vector<std::uint64_t> idsOf(const std::vector<CompositorWindow>& windows) {
    std::vector<std::uint64_t> ids;
    for (const auto& window : windows) {
        ids.push_back(window.id);
    }
    return ids;
}

const CompositorWindow* byId(const std::vector<CompositorWindow>& windows, std::uint64_t id) {
    const auto found = std::find_if(windows.begin(), windows.end(),
                                    [id](const CompositorWindow& w) { return w.id == id; });
    return found == windows.end() ? nullptr : &*found;
}

std::vector<HyprlandJson::Monitor> recordedMonitors() {
    return HyprlandJson::monitors(hyprlandTranscript("monitors.json"))
        .value_or(std::vector<HyprlandJson::Monitor>{});
}

TEST(HyprlandJson, MonitorsAreInLogicalUnitsTurnedWithTheOneAtTheOriginFirst) {
    std::string problem;
    const auto monitors = HyprlandJson::monitors(hyprlandTranscript("monitors.json"), &problem);
    ASSERT_TRUE(monitors) << problem;
    ASSERT_EQ(monitors->size(), 2u);
    const auto& dp = (*monitors)[0];
    EXPECT_EQ(dp.monitor.connector, "DP-1");
    EXPECT_TRUE(dp.monitor.primary);
    EXPECT_EQ(dp.monitor.name, "LG Electronics 27GL850");
    // 2560x1440 pixels at 1.25.
    EXPECT_EQ(dp.monitor.stageFrame, (plinth::Rect{0, 0, 2048, 1152}));
    EXPECT_EQ(dp.id, 0);
    EXPECT_EQ(dp.activeWorkspace, 1);
    EXPECT_TRUE(dp.focused);
    const auto& hdmi = (*monitors)[1];
    EXPECT_FALSE(hdmi.monitor.primary);
    // Turned upright: its mode's width is the stage's height.
    EXPECT_EQ(hdmi.monitor.stageFrame, (plinth::Rect{2048, 0, 1080, 1920}));
    EXPECT_EQ(hdmi.id, 1);

    // Disabled, sizeless, absurdly scaled or placed: dropped or clamped, never trusted.
    const auto odd = HyprlandJson::monitors(R"([
      {"id":0,"name":"A","width":1920,"height":1080,"x":0,"y":0,"scale":1,"disabled":true},
      {"id":1,"name":"B","width":-5,"height":1080,"x":0,"y":0,"scale":1},
      {"id":2,"name":"C","width":1920,"height":1080,"x":1e300,"y":-7,"scale":0},
      {"id":"3","name":4,"width":"wide","height":1080,"x":0,"y":0},
      7, null])");
    ASSERT_TRUE(odd);
    ASSERT_EQ(odd->size(), 1u);
    EXPECT_EQ((*odd)[0].monitor.stageFrame,
              (plinth::Rect{HyprlandJson::maximumCoordinate, -7, 1920, 1080}));
    for (const char* garbage : {"", "[", "{}", "\"monitors\"", "[{\"id\":0,"}) {
        EXPECT_FALSE(HyprlandJson::monitors(garbage)) << garbage;
    }
    std::string many = "[";
    for (std::size_t i = 0; i <= HyprlandJson::maximumMonitors; ++i) {
        many += std::string(i ? "," : "") + R"({"id":1,"width":9,"height":9,"x":0,"y":0})";
    }
    EXPECT_FALSE(HyprlandJson::monitors(many + "]", &problem));
    EXPECT_EQ(problem, "65 monitors");
}

TEST(HyprlandJson, ClientsAreFrontToBackByFocusWithThoseNotShownMinimised) {
    const auto monitors = recordedMonitors();
    std::string problem;
    const auto read = HyprlandJson::windows(hyprlandTranscript("clients.json"), monitors, &problem);
    ASSERT_TRUE(read) << problem;
    // Shown by focus history (never focused last), then those not shown.
    EXPECT_EQ(idsOf(*read), (std::vector<std::uint64_t>{kitty, nautilus, firefox, portal, htop,
                                                        tabBehind, volume}));
    const auto* term = byId(*read, kitty);
    EXPECT_EQ(term->pid, 2301u);
    EXPECT_EQ(term->applicationId, "kitty");
    EXPECT_EQ(term->title, "~/src/orvane");
    EXPECT_EQ(term->frame, (plinth::Rect{1030, 40, 1008, 1102}));
    EXPECT_EQ(term->monitor, 0);
    EXPECT_FALSE(term->minimized);
    EXPECT_EQ(byId(*read, firefox)->title, "Orvane \u2014 Mozilla Firefox");
    // Hyprland's monitor ids are not the list's order.
    EXPECT_EQ(byId(*read, nautilus)->monitor, 1);
    EXPECT_FALSE(byId(*read, nautilus)->minimized);
    EXPECT_TRUE(byId(*read, htop)->minimized);      // workspace 3 is shown nowhere
    EXPECT_TRUE(byId(*read, tabBehind)->minimized); // a group's tab behind
    EXPECT_TRUE(byId(*read, volume)->minimized);    // a special workspace not shown
    // Without monitors nothing is known to be shown.
    const auto alone = HyprlandJson::windows(hyprlandTranscript("clients.json"), {});
    ASSERT_TRUE(alone);
    EXPECT_TRUE(std::all_of(alone->begin(), alone->end(), [](const CompositorWindow& w) {
        return w.minimized && w.monitor < 0;
    }));

    // Unmapped, without an address or a frame, of the wrong types: skipped; sizes below zero
    // and places past the stage clamped; an address listed twice kept once.
    const auto odd = HyprlandJson::windows(R"([
      {"address":"0x10","mapped":false,"at":[0,0],"size":[5,5]},
      {"address":"0x0","at":[0,0],"size":[5,5]},
      {"address":"zz","at":[0,0],"size":[5,5]},
      {"address":"0x11","at":[0],"size":[5,5]},
      {"address":"0x12","at":["a",0],"size":[5,5]},
      {"address":17,"at":[0,0],"size":[5,5]},
      {"address":"0x13","at":[-1e12,3],"size":[-40,-2],"pid":-4,"class":7,"title":null,
       "workspace":{"id":1},"monitor":0,"focusHistoryID":"first"},
      {"address":"0x13","at":[9,9],"size":[9,9]},
      "window", 4, []])",
                                           monitors);
    ASSERT_TRUE(odd);
    ASSERT_EQ(odd->size(), 1u);
    const auto& kept = (*odd)[0];
    EXPECT_EQ(kept.id, 0x13u);
    EXPECT_EQ(kept.frame, (plinth::Rect{-HyprlandJson::maximumCoordinate, 3, 0, 0}));
    EXPECT_EQ(kept.pid, 0u);
    EXPECT_TRUE(kept.applicationId.empty());
    EXPECT_FALSE(kept.minimized);
}

TEST(HyprlandJson, RepliesPastTheirBoundsOrCutShortAreDroppedWhole) {
    const auto monitors = recordedMonitors();
    std::string problem;
    const auto most = HyprlandJson::windows(clientsOf(HyprlandJson::maximumWindows), monitors);
    ASSERT_TRUE(most);
    EXPECT_EQ(most->size(), HyprlandJson::maximumWindows);
    EXPECT_FALSE(HyprlandJson::windows(clientsOf(10'000), monitors, &problem));
    EXPECT_FALSE(problem.empty());

    const std::string recorded = hyprlandTranscript("clients.json");
    for (std::size_t cut : {std::size_t{1}, recorded.size() / 2, recorded.size() - 3}) {
        EXPECT_FALSE(HyprlandJson::windows(recorded.substr(0, cut), monitors)) << cut;
    }
    // Nested past any client's depth.
    EXPECT_FALSE(
        HyprlandJson::windows(std::string(100'000, '[') + std::string(100'000, ']'), monitors));
    EXPECT_FALSE(HyprlandJson::windows(R"({"address":"0x1"})", monitors));

    // A long title is kept cut, between characters.
    std::string title;
    for (int i = 0; i < 3000; ++i) {
        title += "\u00e9";
    }
    const auto cut = HyprlandJson::windows(clientsOf(1, title), monitors);
    ASSERT_TRUE(cut);
    EXPECT_EQ((*cut)[0].title.size(), HyprlandJson::titleBytes);
    EXPECT_EQ((*cut)[0].title.substr(0, 2), "\u00e9");
}

TEST(HyprlandJson, SmallRepliesEventLinesAndBindings) {
    EXPECT_EQ(HyprlandJson::activeWindow(hyprlandTranscript("activewindow.json")), kitty);
    EXPECT_EQ(HyprlandJson::activeWindow("{}"), 0u);
    EXPECT_FALSE(HyprlandJson::activeWindow(R"({"address":5})"));
    EXPECT_FALSE(HyprlandJson::activeWindow("[]"));
    EXPECT_EQ(HyprlandJson::cursor(hyprlandTranscript("cursorpos.json")),
              (plinth::Point{2400, 615}));
    EXPECT_FALSE(HyprlandJson::cursor(R"({"x":1})"));
    EXPECT_FALSE(HyprlandJson::cursor("2400, 615"));
    EXPECT_EQ(HyprlandJson::version(hyprlandTranscript("version.json")), "0.45.2");
    EXPECT_EQ(HyprlandJson::version(R"({"tag":"unknown","commit":"12f9a0d0b93f691d4d99"})"),
              "12f9a0d0b93f");
    EXPECT_FALSE(HyprlandJson::version(R"({"tag":3})"));

    EXPECT_EQ(HyprlandJson::address("0x55d0c6e557f0"), kitty);
    EXPECT_EQ(HyprlandJson::address("55d0c6e557f0"), kitty);
    EXPECT_EQ(HyprlandJson::addressText(kitty), "0x55d0c6e557f0");
    for (const char* bad : {"", "0x", "0x0", "0x12345678901234567", "55d0 c6", "-1", "0xg"}) {
        EXPECT_FALSE(HyprlandJson::address(bad)) << bad;
    }

    std::string error;
    EXPECT_TRUE(HyprlandJson::dispatched("ok"));
    EXPECT_FALSE(HyprlandJson::dispatched("No such window found", &error));
    EXPECT_EQ(error, "No such window found");
    EXPECT_FALSE(HyprlandJson::dispatched(""));

    const auto event = HyprlandJson::event("openwindow>>55d0c7a0b0c0,1,foot,a>>b");
    ASSERT_TRUE(event);
    EXPECT_EQ(event->name, "openwindow");
    EXPECT_EQ(event->data, "55d0c7a0b0c0,1,foot,a>>b"); // a title may hold ">>"
    for (const char* garbage : {"", ">>x", "openwindow", "Open Window>>x", "\x01\x02>>"}) {
        EXPECT_FALSE(HyprlandJson::event(garbage)) << garbage;
    }
    using HyprlandJson::Touches;
    EXPECT_EQ(HyprlandJson::touches("activewindowv2"), Touches::windows);
    EXPECT_EQ(HyprlandJson::touches("closewindow"), Touches::windows);
    EXPECT_EQ(HyprlandJson::touches("monitorremoved"), Touches::windowsAndMonitors);
    EXPECT_EQ(HyprlandJson::touches("workspacev2"), Touches::windowsAndMonitors);
    EXPECT_EQ(HyprlandJson::touches("submap"), Touches::nothing);

    EXPECT_EQ(HyprlandJson::chordsRunning(hyprlandTranscript("binds.json"), "--toggle-pause"),
              (std::vector<std::string>{"SUPER+SHIFT+G"}));
    EXPECT_EQ(HyprlandJson::chordsRunning("[]", "--toggle-pause"), std::vector<std::string>{});
    EXPECT_FALSE(HyprlandJson::chordsRunning("{", "--toggle-pause"));
}

TEST(HyprlandIpc, EventLinesSplitAnywhereAndOverlongOnesDroppedWhole) {
    HyprlandIpc::LineReader reader;
    std::vector<std::string> lines;
    const auto take = [&](const std::string& bytes) {
        for (char byte : bytes) {
            reader.feed(&byte, 1);
            while (auto line = reader.next()) {
                lines.push_back(*line);
            }
        }
    };
    take("activewindowv2>>55d0\nclosewindow>>1\n");
    EXPECT_EQ(lines, (std::vector<std::string>{"activewindowv2>>55d0", "closewindow>>1"}));
    lines.clear();
    // A line past the bound, whether its end comes in the same read or much later.
    const std::string overlong(HyprlandIpc::maximumEventLine + 10, 'x');
    reader.feed(overlong.data(), overlong.size());
    EXPECT_FALSE(reader.next());
    take("more of it\nopenwindow>>2\n");
    const std::string inOne = overlong + "\nclosewindow>>3\n";
    reader.feed(inOne.data(), inOne.size());
    while (auto line = reader.next()) {
        lines.push_back(*line);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"openwindow>>2", "closewindow>>3"}));
    EXPECT_EQ(reader.droppedLines(), 2u);
}

using Outcome = HyprlandToplevelSource::Outcome;

// Toplevels as a foreign-toplevel list would give them, each with its window's address.
std::vector<ToplevelCandidate> recordedToplevels() {
    return {{1, "firefox", "Orvane \u2014 Mozilla Firefox", firefox},
            {2, "kitty", "~/src/orvane", kitty},
            {3, "kitty", "htop", htop},
            {4, "kitty", "htop", tabBehind},
            {5, "org.gnome.Nautilus", "Downloads", nautilus}};
}

std::vector<ToplevelCandidate> withoutMapping(std::vector<ToplevelCandidate> toplevels) {
    for (auto& toplevel : toplevels) {
        toplevel.address.reset();
    }
    return toplevels;
}

TEST(HyprlandToplevels, TheMappingNamesTheToplevelAndNothingElseDoes) {
    const auto mapped = recordedToplevels();
    // Same app id and title as another: the address alone decides.
    EXPECT_EQ(matchToplevel(mapped, true, tabBehind, "kitty", "htop").id, 4u);
    EXPECT_EQ(matchToplevel(mapped, true, tabBehind, "kitty", "htop").outcome, Outcome::sent);
    // Whatever app id and title are said: the mapping is not second-guessed.
    EXPECT_EQ(matchToplevel(mapped, true, kitty, "", "").id, 2u);
    // A window the mapping has not named (not answered yet, or failed) is not guessed at by
    // title, even where one fits.
    auto partly = mapped;
    partly[0].address.reset();
    EXPECT_EQ(
        matchToplevel(partly, true, firefox, "firefox", "Orvane \u2014 Mozilla Firefox").outcome,
        Outcome::unmatched);
    // Two toplevels mapped to one window (a compositor gone wrong): neither.
    auto twice = mapped;
    twice[1].address = firefox;
    EXPECT_EQ(matchToplevel(twice, true, firefox, "firefox", "x").outcome, Outcome::ambiguous);
    EXPECT_EQ(matchToplevel(twice, true, firefox, "firefox", "x").id, 0u);
    EXPECT_EQ(matchToplevel({}, true, firefox, "firefox", "x").outcome, Outcome::unmatched);
}

TEST(HyprlandToplevels, WithoutTheMappingOnlyAToplevelAloneInItsAppIdAndTitleMatches) {
    const auto plain = withoutMapping(recordedToplevels());
    EXPECT_EQ(matchToplevel(plain, false, kitty, "kitty", "~/src/orvane").id, 2u);
    EXPECT_EQ(matchToplevel(plain, false, kitty, "kitty", "~/src/orvane").outcome, Outcome::sent);
    // The address cannot tell two alike apart.
    EXPECT_EQ(matchToplevel(plain, false, htop, "kitty", "htop").outcome, Outcome::ambiguous);
    EXPECT_EQ(matchToplevel(plain, false, htop, "kitty", "htop").id, 0u);
    // Both must agree, as given.
    EXPECT_EQ(matchToplevel(plain, false, kitty, "kitty", "~/src").outcome, Outcome::unmatched);
    EXPECT_EQ(matchToplevel(plain, false, kitty, "Kitty", "~/src/orvane").outcome,
              Outcome::unmatched);
    // A window the IPC does not list has nothing to match by, even a toplevel without either.
    EXPECT_EQ(matchToplevel({{9, "", "", std::nullopt}}, false, kitty, "", "").outcome,
              Outcome::unmatched);

    // Titles past the list's bound are compared as the list keeps them: cut alike.
    const std::string euro = "\xe2\x82\xac";
    const std::string longTitle = std::string(ForeignToplevels::maxTextBytes - 1, 'a') + euro;
    const auto kept = ForeignToplevels::bounded(longTitle);
    ASSERT_LT(kept.size(), longTitle.size());
    EXPECT_EQ(
        matchToplevel({{7, "editor", kept, std::nullopt}}, false, 0x7, "editor", longTitle).id, 7u);
    // Told apart only past the bound: alike as far as anyone can see.
    EXPECT_EQ(matchToplevel({{7, "editor", kept, std::nullopt}, {8, "editor", kept, std::nullopt}},
                            false, 0x7, "editor", longTitle)
                  .outcome,
              Outcome::ambiguous);
}

// A foreign-toplevel list as the link sees it: matches as the real one does and, once an
// activation is read, Hyprland's focus follows when `follow`.
class FakeToplevels : public HyprlandToplevelSource {
public:
    explicit FakeToplevels(HyprlandFakeSockets& hyprland) : hyprland_(hyprland) {}

    Outcome activate(std::uint64_t address, const std::string& applicationId,
                     const std::string& title) override {
        std::lock_guard lock(mutex_);
        asked_.push_back(applicationId + "|" + title);
        if (!offered_) {
            return Outcome::absent;
        }
        const auto list = mapping_ ? toplevels_ : withoutMapping(toplevels_);
        const auto match = matchToplevel(list, mapping_, address, applicationId, title);
        if (match.outcome != Outcome::sent) {
            return match.outcome;
        }
        if (refuse_) {
            return Outcome::refused;
        }
        activated_.push_back(match.id);
        if (follow_) {
            const auto found =
                std::find_if(toplevels_.begin(), toplevels_.end(),
                             [&](const ToplevelCandidate& t) { return t.id == match.id; });
            std::ostringstream window;
            window << R"({"address":"0x)" << std::hex << *found->address << R"(","title":"x"})";
            hyprland_.answer("j/activewindow", window.str());
        }
        return Outcome::sent;
    }

    void set(bool offered, bool mapping, bool refuse, bool follow) {
        std::lock_guard lock(mutex_);
        offered_ = offered;
        mapping_ = mapping;
        refuse_ = refuse;
        follow_ = follow;
    }
    std::vector<std::uint64_t> activated() const {
        std::lock_guard lock(mutex_);
        return activated_;
    }
    std::vector<std::string> asked() const {
        std::lock_guard lock(mutex_);
        return asked_;
    }

private:
    HyprlandFakeSockets& hyprland_;
    mutable std::mutex mutex_;
    std::vector<ToplevelCandidate> toplevels_ = recordedToplevels();
    bool offered_ = true;
    bool mapping_ = true;
    bool refuse_ = false;
    bool follow_ = true;
    std::vector<std::uint64_t> activated_;
    std::vector<std::string> asked_;
};

class HyprlandSocketsTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Short: the signature is long, and a socket's path has at most 107 bytes.
        char pattern[] = "/tmp/ohy.XXXXXX";
        ASSERT_TRUE(::mkdtemp(pattern));
        runtime_ = pattern;
        folder_ = runtime_ / "hypr" / signature_;
        fake_ = std::make_unique<HyprlandFakeSockets>(folder_);
        fake_->answer("j/version", hyprlandTranscript("version.json"));
        fake_->answer("j/monitors", hyprlandTranscript("monitors.json"));
        fake_->answer("j/clients", hyprlandTranscript("clients.json"));
        fake_->answer("j/activewindow", hyprlandTranscript("activewindow.json"));
        fake_->answer("j/cursorpos", hyprlandTranscript("cursorpos.json"));
        fake_->answer("j/binds", hyprlandTranscript("binds.json"));
    }
    void TearDown() override {
        link_.reset();
        fake_.reset();
        std::filesystem::remove_all(runtime_);
    }

    EnvironmentLookup environment() {
        return [this](const char* name) -> const char* {
            const std::string asked = name;
            if (asked == "HYPRLAND_INSTANCE_SIGNATURE") {
                return signature_.c_str();
            }
            return asked == "XDG_RUNTIME_DIR" ? runtimeText_.c_str() : nullptr;
        };
    }

    void open(std::shared_ptr<HyprlandToplevelSource> toplevels = nullptr) {
        runtimeText_ = runtime_.string();
        link_ = std::make_shared<HyprlandLink>(queue_, environment(), std::move(toplevels));
        events_ =
            link_->listen([this](const CompositorEvent& event) { heard_.push_back(event.kind); });
    }

    bool heard(CompositorEvent::Kind kind) {
        return queue_->runTasksUntil(
            [&] { return std::find(heard_.begin(), heard_.end(), kind) != heard_.end(); });
    }

    // Sends the lines and waits until the link has read what they make it read.
    void send(const std::string& lines) {
        heard_.clear();
        fake_->sendEvents(lines);
    }

    std::size_t asked(const std::string& request) const {
        const auto requests = fake_->requests();
        return static_cast<std::size_t>(std::count(requests.begin(), requests.end(), request));
    }

    std::string signature_ = "12f9a0d0b93f691d4d9923716557154d74777b0a_1733000000_1234567890";
    std::filesystem::path runtime_;
    std::string runtimeText_;
    std::filesystem::path folder_;
    std::unique_ptr<HyprlandFakeSockets> fake_;
    std::shared_ptr<SignallingMainQueue> queue_ = std::make_shared<SignallingMainQueue>();
    std::shared_ptr<HyprlandLink> link_;
    Subscription events_;
    std::vector<CompositorEvent::Kind> heard_;
};

TEST_F(HyprlandSocketsTest, OnlySocketsOfTheUsersOwnInAFolderOfTheirOwnAreTrusted) {
    const uid_t user = ::getuid();
    std::string problem;
    const auto requests = (folder_ / ".socket.sock").string();
    EXPECT_TRUE(HyprlandIpc::trusted(requests, user, &problem)) << problem;
    EXPECT_FALSE(HyprlandIpc::trusted(requests, user + 1, &problem));

    // What stands in a socket's place: a link to the real one, a FIFO, a file.
    const auto other = runtime_ / "hypr" / "other";
    std::filesystem::create_directories(other);
    ::chmod(other.c_str(), 0700);
    std::filesystem::create_symlink(requests, other / ".socket.sock");
    EXPECT_FALSE(HyprlandIpc::trusted((other / ".socket.sock").string(), user, &problem));
    EXPECT_NE(problem.find("not a socket of yours"), std::string::npos) << problem;
    ASSERT_EQ(::mkfifo((other / ".socket2.sock").c_str(), 0600), 0);
    EXPECT_FALSE(HyprlandIpc::trusted((other / ".socket2.sock").string(), user));
    EXPECT_FALSE(HyprlandIpc::trusted((other / "absent.sock").string(), user));
    // A folder others may write to, or one reached through a link.
    ::chmod(folder_.c_str(), 0770);
    EXPECT_FALSE(HyprlandIpc::trusted(requests, user, &problem));
    EXPECT_NE(problem.find("not a folder of yours alone"), std::string::npos) << problem;
    ::chmod(folder_.c_str(), 0700);
    std::filesystem::create_directory_symlink(folder_, runtime_ / "hypr" / "linked");
    EXPECT_FALSE(HyprlandIpc::trusted((runtime_ / "hypr/linked/.socket.sock").string(), user));
    // A request to a socket not trusted is never sent.
    EXPECT_FALSE(HyprlandIpc::request((other / ".socket.sock").string(), "j/version", 1s));
    EXPECT_EQ(fake_->requests().size(), 0u);
    EXPECT_TRUE(HyprlandIpc::request(requests, "j/version", 1s));

    // The signature names a folder, never a path.
    for (const char* bad : {"", "..", "../../etc", "a/b"}) {
        EXPECT_TRUE(HyprlandIpc::instanceFolders([&](const char* name) -> const char* {
                        return std::string(name) == "HYPRLAND_INSTANCE_SIGNATURE" ? bad : nullptr;
                    }).empty())
            << bad;
    }
    runtimeText_ = runtime_.string();
    EXPECT_EQ(HyprlandIpc::instanceFolders(environment()),
              (std::vector<std::string>{folder_.string(), "/tmp/hypr/" + signature_}));
}

TEST_F(HyprlandSocketsTest, ASocketOfAnotherUsersIsNeverConnected) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "giving a socket to another user takes root";
    }
    // Another user's Hyprland (or a program posing as one) in the user's own folder.
    ASSERT_EQ(::chown((folder_ / ".socket.sock").c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chown((folder_ / ".socket2.sock").c_str(), 65534, 65534), 0);
    open();
    ASSERT_TRUE(link_->waitUntilSettled(5s));
    EXPECT_FALSE(link_->snapshot().present);
    EXPECT_FALSE(link_->activateWindow(kitty));
    EXPECT_FALSE(link_->queryPointer());
    EXPECT_EQ(fake_->requests().size(), 0u);
    EXPECT_EQ(fake_->listeners(), 0u);
}

TEST_F(HyprlandSocketsTest, ReadsTheTranscriptsAndFollowsTheEventStream) {
    open();
    ASSERT_TRUE(link_->waitUntilSettled(5s));
    ASSERT_TRUE(heard(CompositorEvent::Kind::ready));
    auto snapshot = link_->snapshot();
    EXPECT_TRUE(snapshot.ready);
    EXPECT_EQ(snapshot.compositorVersion, "0.45.2");
    ASSERT_TRUE(snapshot.monitors && snapshot.windows);
    EXPECT_EQ(snapshot.monitors->size(), 2u);
    EXPECT_EQ(snapshot.windows->size(), 7u);
    EXPECT_EQ(snapshot.focusWindow, kitty);
    EXPECT_EQ(link_->queryPointer(), (plinth::Point{2400, 615}));
    EXPECT_FALSE(link_->postKey(0x67, true));
    EXPECT_FALSE(link_->watchInput(100));

    // foot opened and focused, kitty closed: one look at the burst.
    fake_->answer("j/clients", hyprlandTranscript("clients-after.json"));
    fake_->answer("j/activewindow", hyprlandTranscript("activewindow-after.json"));
    const auto lines = hyprlandEventLines("session.events");
    std::string stream;
    for (const auto& line : lines) {
        stream += line;
    }
    send(stream);
    ASSERT_TRUE(heard(CompositorEvent::Kind::windowsChanged));
    ASSERT_TRUE(heard(CompositorEvent::Kind::focusChanged));
    snapshot = link_->snapshot();
    EXPECT_EQ(snapshot.focusWindow, foot);
    EXPECT_EQ(snapshot.windows->front().id, foot);
    EXPECT_FALSE(byId(*snapshot.windows, kitty));

    // A monitor unplugged: the monitors are read again, and what was on it is shown nowhere.
    fake_->answer("j/monitors", hyprlandTranscript("monitors-after.json"));
    send("monitorremoved>>HDMI-A-1\n");
    ASSERT_TRUE(heard(CompositorEvent::Kind::monitorsChanged));
    snapshot = link_->snapshot();
    EXPECT_EQ(snapshot.monitors->size(), 1u);
    ASSERT_TRUE(queue_->runTasksUntil([&] {
        const auto* moved = byId(*link_->snapshot().windows, nautilus);
        return moved && moved->minimized && moved->monitor == -1;
    }));
    // And plugged back.
    fake_->answer("j/monitors", hyprlandTranscript("monitors.json"));
    send("monitoraddedv2>>1,HDMI-A-1,Dell Inc. DELL P2419H\n");
    ASSERT_TRUE(heard(CompositorEvent::Kind::monitorsChanged));
    EXPECT_EQ(link_->snapshot().monitors->size(), 2u);
}

TEST_F(HyprlandSocketsTest, ActivationIsByAddressAndConfirmedByTheFocus) {
    open();
    ASSERT_TRUE(heard(CompositorEvent::Kind::ready));
    fake_->setFollowDispatches(true);
    EXPECT_EQ(link_->activateWindow(firefox), firefox);
    EXPECT_EQ(asked("dispatch focuswindow address:0x55d0c6e75980"), 1u);
    EXPECT_TRUE(link_->warpPointer(300, 200));
    EXPECT_EQ(asked("dispatch movecursor 300 200"), 1u);
    EXPECT_EQ(link_->queryPointer(), (plinth::Point{300, 200}));

    // Taken but the focus stays (a window rule, a full-screen window): the focus as it is,
    // after a bounded wait.
    fake_->setFollowDispatches(false);
    fake_->answer("j/activewindow", hyprlandTranscript("activewindow.json"));
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(link_->activateWindow(nautilus), kitty);
    EXPECT_LT(std::chrono::steady_clock::now() - started, HyprlandLink::activationWait + 1s);

    // Refused outright.
    fake_->answer("dispatch focuswindow address:0x404", "No such window found");
    EXPECT_FALSE(link_->activateWindow(0x404));

    // No answer at all: bounded by the reply timeout.
    fake_->setSilent(true);
    started = std::chrono::steady_clock::now();
    EXPECT_FALSE(link_->activateWindow(firefox));
    EXPECT_FALSE(link_->warpPointer(1, 1));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3 * HyprlandLink::replyTimeout);
}

TEST_F(HyprlandSocketsTest, ActivationGoesThroughTheMatchedToplevelElseByDispatch) {
    test::LogCapture log;
    auto toplevels = std::make_shared<FakeToplevels>(*fake_);
    open(toplevels);
    ASSERT_TRUE(heard(CompositorEvent::Kind::ready));
    fake_->setFollowDispatches(true);
    const auto dispatches = [&] {
        const auto requests = fake_->requests();
        return std::count_if(requests.begin(), requests.end(), [](const std::string& request) {
            return request.rfind("dispatch ", 0) == 0;
        });
    };

    // Mapped: the toplevel of that window, whatever its likes, and no dispatch; the focus
    // Hyprland reports confirms it. The window's class and title go with it, as listed.
    EXPECT_EQ(link_->activateWindow(tabBehind), tabBehind);
    EXPECT_EQ(toplevels->activated(), (std::vector<std::uint64_t>{4}));
    EXPECT_EQ(toplevels->asked().back(), "kitty|tab behind");
    EXPECT_EQ(link_->activateWindow(firefox), firefox);
    EXPECT_EQ(toplevels->asked().back(), "firefox|Orvane \u2014 Mozilla Firefox");
    EXPECT_EQ(dispatches(), 0);

    // Taken, but the focus stays: the focus as it is, and no dispatch behind the user's back.
    toplevels->set(true, true, false, false);
    EXPECT_EQ(link_->activateWindow(kitty), firefox);
    EXPECT_EQ(dispatches(), 0);

    // Not in the list (an address the IPC does not know), alike without the mapping, no list
    // at all, or the activation not taken: each falls back to the dispatch, which still lands.
    toplevels->set(true, true, false, true);
    EXPECT_EQ(link_->activateWindow(volume), volume);
    EXPECT_EQ(asked("dispatch focuswindow address:0x55d0c6f31d50"), 1u);
    toplevels->set(true, false, false, true);
    EXPECT_EQ(link_->activateWindow(htop), htop);
    EXPECT_EQ(asked("dispatch focuswindow address:0x55d0c6f11b30"), 1u);
    // Alone in its app id and title: matched without the mapping.
    EXPECT_EQ(link_->activateWindow(nautilus), nautilus);
    EXPECT_EQ(asked("dispatch focuswindow address:0x55d0c6f01a20"), 0u);
    EXPECT_EQ(toplevels->activated().back(), 5u);
    toplevels->set(false, true, false, true);
    EXPECT_EQ(link_->activateWindow(kitty), kitty);
    EXPECT_EQ(asked("dispatch focuswindow address:0x55d0c6e557f0"), 1u);
    toplevels->set(true, true, true, true);
    EXPECT_EQ(link_->activateWindow(firefox), firefox);
    EXPECT_EQ(asked("dispatch focuswindow address:0x55d0c6e75980"), 1u);
    // The fallback refused as well: nothing.
    fake_->answer("dispatch focuswindow address:0x55d0c6e75980", "No such window found");
    EXPECT_FALSE(link_->activateWindow(firefox));

    // Each route said once, however often taken.
    const auto times = [&](const std::string& words) {
        return log.sink->count(LogLevel::info, words);
    };
    const auto said = ::testing::PrintToString(log.sink->lines(LogLevel::info));
    EXPECT_EQ(times("activated through the foreign-toplevel protocol"), 1u) << said;
    EXPECT_EQ(times("focus dispatch"), 4u) << said;
    for (const auto outcome :
         {Outcome::unmatched, Outcome::ambiguous, Outcome::absent, Outcome::refused}) {
        EXPECT_EQ(times(describe(outcome)), 1u) << describe(outcome);
    }
}

TEST_F(HyprlandSocketsTest, AHyprlandConfiguredInLuaIsDispatchedToInLua) {
    open();
    ASSERT_TRUE(heard(CompositorEvent::Kind::ready));
    fake_->setFollowDispatches(true);
    fake_->setLuaConfig(true);
    const std::string lua = R"(dispatch hl.dsp.focus({ window = "address:0x55d0c6e75980" }))";
    // The classic form refused, the Lua one taken; from then on Lua is tried first.
    EXPECT_EQ(link_->activateWindow(firefox), firefox);
    EXPECT_EQ(asked("dispatch focuswindow address:0x55d0c6e75980"), 1u);
    EXPECT_EQ(asked(lua), 1u);
    EXPECT_EQ(link_->activateWindow(firefox), firefox);
    EXPECT_EQ(asked("dispatch focuswindow address:0x55d0c6e75980"), 1u);
    EXPECT_EQ(asked(lua), 2u);
    // And back, should the config change.
    fake_->setLuaConfig(false);
    EXPECT_EQ(link_->activateWindow(kitty), kitty);
    EXPECT_EQ(asked("dispatch focuswindow address:0x55d0c6e557f0"), 1u);
}

TEST_F(HyprlandSocketsTest, HostileRepliesAndEventsLeaveNoWindowsOrWhatWasKnown) {
    test::LogCapture log;
    // Cut short from the first look: ready, with no windows.
    const std::string recorded = hyprlandTranscript("clients.json");
    fake_->answer("j/clients", recorded.substr(0, recorded.size() / 2));
    open();
    ASSERT_TRUE(heard(CompositorEvent::Kind::ready));
    ASSERT_TRUE(link_->snapshot().windows);
    EXPECT_TRUE(link_->snapshot().windows->empty());
    EXPECT_TRUE(log.sink->waitForLine(LogLevel::info, "dropped Hyprland's clients"));

    fake_->answer("j/clients", recorded);
    send("openwindow>>55d0c6e75980,1,firefox,x\n");
    ASSERT_TRUE(heard(CompositorEvent::Kind::windowsChanged));
    EXPECT_EQ(link_->snapshot().windows->size(), 7u);

    // Each of these is dropped and what was known stays.
    const std::string hostile[] = {
        clientsOf(10'000),
        std::string(HyprlandIpc::maximumReply + 1, ' '),
        R"({"address":"0x1"})",
    };
    for (const auto& reply : hostile) {
        fake_->answer("j/clients", reply);
        const auto before = asked("j/clients");
        send("closewindow>>55d0c6e75980\n");
        // Answered before it is counted: the link has the reply once the count moves.
        ASSERT_TRUE(queue_->runTasksUntil([&] { return asked("j/clients") > before; }));
        EXPECT_EQ(link_->snapshot().windows->size(), 7u);
    }
    // Clients of the wrong shapes are no windows.
    fake_->answer("j/clients", R"([{"address":"0x1","at":"here","size":{"w":1}}])");
    send("closewindow>>55d0c6e75980\n");
    ASSERT_TRUE(heard(CompositorEvent::Kind::windowsChanged));
    EXPECT_TRUE(link_->snapshot().windows->empty());
    fake_->answer("j/clients", clientsOf(2));
    // Garbage lines, a line past the bound, then a real event: the link still follows.
    send(std::string("\x00\xff garbage\n>>\nnot an event\n", 28) +
         std::string(HyprlandIpc::maximumEventLine + 1, 'x') + "\nclosewindow>>1000\n");
    ASSERT_TRUE(heard(CompositorEvent::Kind::windowsChanged));
    EXPECT_EQ(link_->snapshot().windows->size(), 2u);
    EXPECT_TRUE(link_->snapshot().ready);
    EXPECT_EQ(std::count(heard_.begin(), heard_.end(), CompositorEvent::Kind::vanished), 0);
    EXPECT_TRUE(log.sink->waitForLine(LogLevel::info, "4 lines that are not events"));
    // Said once, not again with each burst after it.
    fake_->answer("j/clients", clientsOf(1));
    send("closewindow>>1001\n");
    ASSERT_TRUE(heard(CompositorEvent::Kind::windowsChanged));
    EXPECT_EQ(log.sink->count(LogLevel::info, "not events"), 1u);
    EXPECT_TRUE(log.sink->waitForLine(LogLevel::info,
                                      "more than " + std::to_string(HyprlandIpc::maximumReply)))
        << ::testing::PrintToString(log.sink->lines(LogLevel::info));
    // However much was wrong, the log is told a bounded number of times.
    EXPECT_LE(log.sink->lines(LogLevel::info).size(), 12u);
}

TEST_F(HyprlandSocketsTest, VanishesWhenHyprlandGoesAndComesBack) {
    fake_->hangUp();
    open();
    ASSERT_TRUE(link_->waitUntilSettled(5s));
    EXPECT_FALSE(link_->snapshot().present);
    fake_->start();
    ASSERT_TRUE(heard(CompositorEvent::Kind::ready));

    heard_.clear();
    fake_->hangUp();
    ASSERT_TRUE(heard(CompositorEvent::Kind::vanished));
    EXPECT_FALSE(link_->snapshot().ready);
    EXPECT_FALSE(link_->snapshot().windows);
    EXPECT_FALSE(link_->activateWindow(kitty));

    heard_.clear();
    fake_->start();
    ASSERT_TRUE(heard(CompositorEvent::Kind::ready));
    fake_->setFollowDispatches(true);
    EXPECT_EQ(link_->activateWindow(firefox), firefox);
}

TEST_F(HyprlandSocketsTest, ThePauseHotKeyIsTheUsersBindingAsHyprlandListsIt) {
    open();
    ASSERT_TRUE(heard(CompositorEvent::Kind::ready));
    HyprlandHotKeys hotKeys(link_);
    EXPECT_TRUE(hotKeys.registerHotKey(Key::g, ModifierFlag::shift | ModifierFlag::command, [] {}));
    EXPECT_NE(hotKeys.describe(Key::g, 0).find("SUPER+SHIFT+G"), std::string::npos);

    // Bindings without it: not registered, and the words say what to add.
    fake_->answer("j/binds", "[]");
    EXPECT_FALSE(hotKeys.registerHotKey(Key::g, ModifierFlag::shift, [] {}));
    const auto words = hotKeys.describe(Key::g, 0);
    EXPECT_NE(words.find("NOT BOUND"), std::string::npos) << words;
    EXPECT_NE(words.find(HyprlandHotKeys::suggestedBinding), std::string::npos) << words;

    // Hyprland not answering cannot tell: the binding may well be there.
    fake_->answer("j/binds", "{");
    EXPECT_TRUE(hotKeys.registerHotKey(Key::g, ModifierFlag::shift, [] {}));
    EXPECT_NE(hotKeys.describe(Key::g, 0).find("not checked"), std::string::npos);
}

} // namespace
} // namespace orvane::linuxbackend
