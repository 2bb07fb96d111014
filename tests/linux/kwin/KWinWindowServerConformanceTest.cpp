#include "conformance/WindowServerConformance.hpp"

#include "kwin/KWinTestSupport.hpp"
#include "unit/SessionBusTestSupport.hpp"

#include "backends/linux/freedesktop/DesktopEntries.hpp"
#include "backends/linux/wayland/CompositorWindowServer.hpp"
#include "backends/linux/wayland/kwin/KWinLink.hpp"

#include <cmath>
#include <cstdlib>
#include <map>

namespace orvane::linuxbackend::test {
namespace {

// Real GTK windows on the headless KWin of scripts/kwin-desktop.sh, placed by a script of the
// test's own in KWin (KWin places new windows itself, and a Wayland client may not ask for a
// position); raised by exact activation, closed by ending their process. Each case's link
// loads its script after the placing scripts of the cases before, as an Orvane started again
// does beside others' scripts.
class RealKWinWindowServerRig {
public:
    using Opened = conformance::OpenedWindow;
    // KWin tells scripts where the cursor is but gives them no way to move it.
    static constexpr bool movesPointer = false;
    static bool available() { return std::getenv("ORVANE_KWIN_START") != nullptr; }

    RealKWinWindowServerRig()
        : link_(std::make_shared<KWinLink>(queue_)),
          server_(link_, std::make_shared<DesktopEntries>(), nullptr) {
        EXPECT_NE(bus_, nullptr);
        EXPECT_TRUE(queue_->runTasksUntil([&] { return link_->snapshot().ready; }, 20s))
            << link_->problem();
    }
    ~RealKWinWindowServerRig() { sd_bus_flush_close_unref(bus_); }
    RealKWinWindowServerRig(const RealKWinWindowServerRig&) = delete;
    RealKWinWindowServerRig& operator=(const RealKWinWindowServerRig&) = delete;

    WindowServer& server() { return server_; }
    // The left output, at the stage's origin, is the primary.
    plinth::Rect primaryFrame() { return {0, 0, 1920, 1080}; }

    Opened open(const std::string& title, plinth::Point origin) {
        const std::string clients = ORVANE_TEST_CLIENTS;
        Child child{spawn(
            {"/usr/bin/python3", clients + "/gtk-window-at.py", title, "0", "0", "400", "300"})};
        std::optional<CompositorWindow> found;
        if (child.pid <= 0 || !queue_->runTasksUntil(
                                  [&] {
                                      const auto* window = byTitle(link_->snapshot(), title);
                                      found = window ? std::optional(*window) : std::nullopt;
                                      return found.has_value();
                                  },
                                  20s)) {
            ADD_FAILURE() << title << " was not listed";
            return {};
        }
        placeWindows(bus_, {{title, origin}});
        EXPECT_TRUE(waitUntil([&] {
            const auto* window = byTitle(link_->snapshot(), title);
            return window && std::lround(window->frame.x) == std::lround(origin.x) &&
                   std::lround(window->frame.y) == std::lround(origin.y);
        })) << "KWin did not move "
            << title;
        const Opened opened{static_cast<pid_t>(found->pid),
                            CompositorWindowServer::numberOf(found->id)};
        children_.emplace(opened.number, Placed{std::move(child), found->id});
        return opened;
    }
    void raise(const Opened& window) {
        const auto placed = children_.find(window.number);
        ASSERT_NE(placed, children_.end());
        EXPECT_EQ(link_->activateWindow(placed->second.id), placed->second.id);
    }
    void close(Opened& window) { children_.erase(window.number); }
    bool waitUntil(const std::function<bool()>& condition) {
        return queue_->runTasksUntil(condition, 10s);
    }

private:
    struct Placed {
        Child child;
        std::uint64_t id = 0;
    };

    std::shared_ptr<SignallingMainQueue> queue_ = std::make_shared<SignallingMainQueue>();
    sd_bus* bus_ = sessionBus();
    std::shared_ptr<KWinLink> link_;
    CompositorWindowServer server_;
    std::map<std::uint32_t, Placed> children_; // first to go: the windows close before the link
};

} // namespace
} // namespace orvane::linuxbackend::test

namespace orvane::conformance {
INSTANTIATE_TYPED_TEST_SUITE_P(RealKWin, WindowServerConformance,
                               linuxbackend::test::RealKWinWindowServerRig);
} // namespace orvane::conformance
