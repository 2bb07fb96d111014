#include "conformance/WindowServerConformance.hpp"

#include "GnomeFakeShell.hpp"
#include "HyprlandFakeSockets.hpp"
#include "SwayFakeIpc.hpp"
#include "unit/SessionBusTestSupport.hpp"

#include "backends/linux/freedesktop/DesktopEntries.hpp"
#include "backends/linux/wayland/CompositorWindowServer.hpp"
#include "backends/linux/wayland/gnome/BridgeConnection.hpp"
#include "backends/linux/wayland/gnome/GnomeDesktop.hpp"
#include "backends/linux/wayland/hyprland/HyprlandJson.hpp"
#include "backends/linux/wayland/hyprland/HyprlandLink.hpp"
#include "backends/linux/wayland/sway/SwayIpc.hpp"
#include "backends/linux/wayland/sway/SwayLink.hpp"
#include "orvane/platform/Platform.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

namespace orvane::linuxbackend::test {
namespace {

// The GNOME desktop over a fake shell bridge on a private bus. The rig changes the bridge's
// windows and announces each change as the shell's bridge does, with WindowsChanged.
class GnomeWindowServerRig {
public:
    using Opened = conformance::OpenedWindow;
    static bool available() { return true; }

    GnomeWindowServerRig() {
        EXPECT_FALSE(bus_.address().empty()) << "dbus-daemon did not start";
        environment_.set("DBUS_SESSION_BUS_ADDRESS", bus_.address());
        desktop_ =
            GnomeDesktop::open({queue_,
                                [](const char* name) -> const char* {
                                    const std::string asked = name;
                                    // No extension installed on this machine counts.
                                    return asked == "XDG_DATA_HOME" || asked == "XDG_DATA_DIRS"
                                               ? "/nonexistent"
                                               : nullptr;
                                },
                                nullptr});
        desktop_->fill(platform_);
        // The primary on the right, with its top above the left one's: stage and global differ.
        bridge_ = std::make_unique<FakeBridge>(
            bus_.address(), BridgeConnection::version, [](FakeBridge& b) {
                b.monitors = {{0, 200, 1920, 1080, "HDMI-1", "L", false},
                              {1920, 0, 2560, 1440, "DP-1", "P", true}};
            });
        EXPECT_TRUE(bridge_->isReady());
        EXPECT_TRUE(waitUntil([&] { return desktop_->bridge()->snapshot().ready; }));
    }

    WindowServer& server() { return *platform_.windowServer; }
    plinth::Rect primaryFrame() { return platform_.displays->screens().front().frame; }

    Opened open(const std::string& title, plinth::Point origin) {
        const Opened opened{nextPid_++, nextNumber_++};
        // Global top-left to the shell's stage: the primary's corner is at (1920, 0).
        const int x = static_cast<int>(origin.x) + 1920;
        const int y = static_cast<int>(origin.y);
        bridge_->run([&](FakeBridge& b) {
            b.windows.insert(b.windows.begin(), FakeWindow{baseId + opened.number,
                                                           static_cast<std::uint32_t>(opened.pid),
                                                           "org.example.App",
                                                           title,
                                                           "normal",
                                                           {x, y, 400, 300},
                                                           {x - 10, y - 10, 420, 320},
                                                           1,
                                                           false,
                                                           false});
            b.focus = baseId + opened.number;
            b.emit("WindowsChanged");
            b.emitProperty("FocusWindow");
        });
        return opened;
    }
    void raise(const Opened& window) {
        bridge_->run([&](FakeBridge& b) {
            const auto found = find(b, window);
            if (found != b.windows.end()) {
                std::rotate(b.windows.begin(), found, found + 1);
                b.emit("WindowsChanged");
            }
        });
    }
    void close(Opened& window) {
        bridge_->run([&](FakeBridge& b) {
            const auto found = find(b, window);
            if (found != b.windows.end()) {
                b.windows.erase(found);
                b.emit("WindowsChanged");
            }
        });
    }
    bool waitUntil(const std::function<bool()>& condition) {
        return queue_->runTasksUntil(condition);
    }

private:
    // GNOME counts window ids up from 2^32.
    static constexpr std::uint64_t baseId = std::uint64_t{1} << 32;

    static std::vector<FakeWindow>::iterator find(FakeBridge& b, const Opened& window) {
        return std::find_if(b.windows.begin(), b.windows.end(),
                            [&](const FakeWindow& w) { return w.id == baseId + window.number; });
    }

    PrivateBus bus_;
    ScopedEnvironment environment_;
    std::shared_ptr<SignallingMainQueue> queue_ = std::make_shared<SignallingMainQueue>();
    std::shared_ptr<GnomeDesktop> desktop_;
    Platform platform_;
    std::unique_ptr<FakeBridge> bridge_;
    pid_t nextPid_ = 900;
    std::uint32_t nextNumber_ = 1;
};

// What the fake-socket rigs share: the window server over a link to a fake of the compositor,
// and floating windows of their own, the last one drawn on top and focused. Each rig serves the
// list as its compositor would and announces the change as it would.
class FakeCompositorRig {
public:
    using Opened = conformance::OpenedWindow;
    static bool available() { return true; }

    FakeCompositorRig(const FakeCompositorRig&) = delete;
    FakeCompositorRig& operator=(const FakeCompositorRig&) = delete;

    WindowServer& server() { return *server_; }

    Opened open(const std::string& title, plinth::Point origin) {
        windows_.push_back({{nextPid_++, nextNumber_++}, title, origin});
        changed(Change::opened, windows_.back());
        return windows_.back().opened;
    }
    void raise(const Opened& window) {
        const auto found = find(window);
        if (found != windows_.end()) {
            std::rotate(found, found + 1, windows_.end());
            changed(Change::raised, windows_.back());
        }
    }
    void close(Opened& window) {
        const auto found = find(window);
        if (found != windows_.end()) {
            const auto gone = *found;
            windows_.erase(found);
            changed(Change::closed, gone);
        }
    }
    bool waitUntil(const std::function<bool()>& condition) {
        return queue_->runTasksUntil(condition);
    }

protected:
    enum class Change { opened, raised, closed };
    struct Window {
        Opened opened;
        std::string title;
        plinth::Point origin;
    };

    // `pattern` names the rig's folder: short, as a socket's path has at most 107 bytes.
    explicit FakeCompositorRig(std::string pattern) {
        EXPECT_TRUE(::mkdtemp(pattern.data()));
        dir_ = pattern;
    }
    virtual ~FakeCompositorRig() { std::filesystem::remove_all(dir_); }

    // Serves the windows as they are now and tells of `change` to `window`.
    virtual void changed(Change change, const Window& window) = 0;
    // The window server over `link`, once the link has read the fake.
    void serve(const std::shared_ptr<CompositorLink>& link) {
        server_ = std::make_unique<CompositorWindowServer>(link, std::make_shared<DesktopEntries>(),
                                                           nullptr);
        EXPECT_TRUE(waitUntil([&] { return link->snapshot().ready; }));
    }

    std::filesystem::path dir_;
    std::shared_ptr<SignallingMainQueue> queue_ = std::make_shared<SignallingMainQueue>();
    std::unique_ptr<CompositorWindowServer> server_;
    std::vector<Window> windows_;

private:
    std::vector<Window>::iterator find(const Opened& window) {
        return std::find_if(windows_.begin(), windows_.end(),
                            [&](const Window& w) { return w.opened.number == window.number; });
    }

    pid_t nextPid_ = 900;
    std::uint32_t nextNumber_ = 40;
};

// The window server over the sway link, with a fake IPC socket serving a tree of floating
// windows and a window event after each change, as sway sends.
class SwayWindowServerRig : public FakeCompositorRig {
public:
    // sway's IPC can set the cursor but never tells where it is: a warp cannot be read back.
    static constexpr bool readsPointer = false;

    SwayWindowServerRig() : FakeCompositorRig("/tmp/orvane-sway-rig.XXXXXX") {
        fake_ = std::make_unique<SwayFakeIpc>(dir_ / "sway-ipc.sock");
        // Two outputs side by side, the primary (at the origin) listed second.
        fake_->answer(SwayIpc::getOutputs, R"([
          {"name":"HEADLESS-2","active":true,"rect":{"x":1920,"y":0,"width":1280,"height":1024}},
          {"name":"HEADLESS-1","active":true,"rect":{"x":0,"y":0,"width":1920,"height":1080}}])");
        fake_->answer(SwayIpc::getVersion, R"({"human_readable":"1.10.1"})");
        fake_->answer(SwayIpc::getSeats, R"([{"name":"seat0"}])");
        serveTree();
        const std::string sock = fake_->path().string();
        const std::string runtime = dir_.string();
        link_ =
            std::make_shared<SwayLink>(queue_, [sock, runtime](const char* name) -> const char* {
                const std::string asked = name;
                if (asked == "SWAYSOCK") {
                    return sock.c_str();
                }
                return asked == "XDG_RUNTIME_DIR" ? runtime.c_str() : nullptr;
            });
        serve(link_);
    }
    ~SwayWindowServerRig() override {
        server_.reset();
        link_.reset();
        fake_.reset();
    }

    plinth::Rect primaryFrame() { return {0, 0, 1920, 1080}; }

private:
    // Floating containers on the primary's workspace, the last one focused and on top.
    void serveTree() {
        nlohmann::json floating = nlohmann::json::array();
        for (std::size_t i = 0; i < windows_.size(); ++i) {
            const auto& w = windows_[i];
            floating.push_back(
                {{"id", w.opened.number},
                 {"type", "floating_con"},
                 {"name", w.title},
                 {"pid", w.opened.pid},
                 {"app_id", "org.example.App"},
                 {"visible", true},
                 {"focused", i + 1 == windows_.size()},
                 {"rect", {{"x", w.origin.x}, {"y", w.origin.y}, {"width", 400}, {"height", 300}}},
                 {"window_rect", {{"x", 2}, {"y", 2}, {"width", 396}, {"height", 296}}}});
        }
        const nlohmann::json tree = {{"id", 1},
                                     {"type", "root"},
                                     {"nodes",
                                      {{{"id", 3},
                                        {"type", "output"},
                                        {"name", "HEADLESS-1"},
                                        {"nodes",
                                         {{{"id", 4},
                                           {"type", "workspace"},
                                           {"name", "1"},
                                           {"nodes", nlohmann::json::array()},
                                           {"floating_nodes", floating}}}}}}}};
        fake_->answer(SwayIpc::getTree, tree.dump());
    }

    void changed(Change change, const Window&) override {
        serveTree();
        const char* name = change == Change::opened   ? "new"
                           : change == Change::raised ? "focus"
                                                      : "close";
        fake_->sendEvent(SwayIpc::windowEvent, nlohmann::json{{"change", name}}.dump());
    }

    std::unique_ptr<SwayFakeIpc> fake_;
    std::shared_ptr<SwayLink> link_;
};

// The window server over the Hyprland link, with fakes of its sockets serving floating clients
// on workspace 1 of the recorded monitors (DP-1 at the origin), the last raised first in the
// focus history, and the event lines Hyprland sends after each change. Dispatches move the
// focus and the pointer as Hyprland's do.
class HyprlandWindowServerRig : public FakeCompositorRig {
public:
    HyprlandWindowServerRig() : FakeCompositorRig("/tmp/ohr.XXXXXX") {
        runtime_ = dir_.string();
        fake_ = std::make_unique<HyprlandFakeSockets>(dir_ / "hypr" / signature_);
        fake_->setFollowDispatches(true);
        fake_->answer("j/version", hyprlandTranscript("version.json"));
        fake_->answer("j/monitors", hyprlandTranscript("monitors.json"));
        fake_->answer("j/cursorpos", hyprlandTranscript("cursorpos.json"));
        serveClients();
        link_ = std::make_shared<HyprlandLink>(queue_, [this](const char* name) -> const char* {
            const std::string asked = name;
            if (asked == "HYPRLAND_INSTANCE_SIGNATURE") {
                return signature_.c_str();
            }
            return asked == "XDG_RUNTIME_DIR" ? runtime_.c_str() : nullptr;
        });
        serve(link_);
    }
    ~HyprlandWindowServerRig() override {
        server_.reset();
        link_.reset();
        fake_.reset();
    }

    // DP-1's 2560x1440 pixels at scale 1.25.
    plinth::Rect primaryFrame() { return {0, 0, 2048, 1152}; }

private:
    // Addresses as Hyprland's heap gives them; the window number is their low half.
    static std::uint64_t addressOf(const Opened& window) {
        return 0x55d000000000ull | window.number;
    }
    static std::string hex(const Opened& window) {
        return HyprlandJson::addressText(addressOf(window)).substr(2);
    }

    void serveClients() {
        nlohmann::json clients = nlohmann::json::array();
        for (std::size_t i = 0; i < windows_.size(); ++i) {
            const auto& w = windows_[i];
            clients.push_back({{"address", HyprlandJson::addressText(addressOf(w.opened))},
                               {"mapped", true},
                               {"hidden", false},
                               {"at", {w.origin.x, w.origin.y}},
                               {"size", {400, 300}},
                               {"workspace", {{"id", 1}, {"name", "1"}}},
                               {"floating", true},
                               {"monitor", 0},
                               {"class", "org.example.App"},
                               {"title", w.title},
                               {"pid", w.opened.pid},
                               {"focusHistoryID", windows_.size() - 1 - i}});
        }
        fake_->answer("j/clients", clients.dump());
        fake_->answer("j/activewindow",
                      windows_.empty() ? std::string("{}") : clients.back().dump());
    }

    void changed(Change change, const Window& window) override {
        serveClients();
        const auto address = hex(window.opened);
        fake_->sendEvents(change == Change::opened
                              ? "openwindow>>" + address + ",1,org.example.App," + window.title +
                                    "\nactivewindowv2>>" + address + "\n"
                          : change == Change::raised ? "activewindowv2>>" + address + "\n"
                                                     : "closewindow>>" + address + "\n");
    }

    std::string signature_ = "12f9a0d0b93f691d4d9923716557154d74777b0a_1733000000_1234567890";
    std::string runtime_;
    std::unique_ptr<HyprlandFakeSockets> fake_;
    std::shared_ptr<HyprlandLink> link_;
};

} // namespace
} // namespace orvane::linuxbackend::test

namespace orvane::conformance {
INSTANTIATE_TYPED_TEST_SUITE_P(GnomeFakeBridge, WindowServerConformance,
                               linuxbackend::test::GnomeWindowServerRig);
INSTANTIATE_TYPED_TEST_SUITE_P(SwayFakeIpc, WindowServerConformance,
                               linuxbackend::test::SwayWindowServerRig);
INSTANTIATE_TYPED_TEST_SUITE_P(HyprlandFakeSockets, WindowServerConformance,
                               linuxbackend::test::HyprlandWindowServerRig);
} // namespace orvane::conformance
