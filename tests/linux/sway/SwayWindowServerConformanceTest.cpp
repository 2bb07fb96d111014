#include "conformance/WindowServerConformance.hpp"

#include "linux/support/ChildProcess.hpp"
#include "unit/SessionBusTestSupport.hpp"

#include "backends/linux/freedesktop/DesktopEntries.hpp"
#include "backends/linux/wayland/CompositorWindowServer.hpp"
#include "backends/linux/wayland/sway/SwayLink.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

namespace orvane::linuxbackend::test {
namespace {

using namespace std::chrono_literals;

// Real GTK windows on the headless sway of scripts/sway-desktop.sh, made floating and placed
// through sway's IPC (a tiling compositor puts new windows where its layout says); raised by
// exact activation, closed by ending their process.
class RealSwayWindowServerRig {
public:
    using Opened = conformance::OpenedWindow;
    // sway's IPC can set the cursor but never tells where it is: a warp cannot be read back.
    static constexpr bool readsPointer = false;
    static bool available() { return std::getenv("SWAYSOCK") != nullptr; }

    RealSwayWindowServerRig()
        : link_(std::make_shared<SwayLink>(queue_,
                                           [](const char* name) { return std::getenv(name); })),
          server_(link_, std::make_shared<DesktopEntries>(), nullptr) {
        EXPECT_TRUE(waitUntil([&] { return link_->snapshot().ready; }));
    }
    RealSwayWindowServerRig(const RealSwayWindowServerRig&) = delete;
    RealSwayWindowServerRig& operator=(const RealSwayWindowServerRig&) = delete;

    WindowServer& server() { return server_; }
    // HEADLESS-1, at the stage's origin, is the primary.
    plinth::Rect primaryFrame() { return {0, 0, 1920, 1080}; }

    Opened open(const std::string& title, plinth::Point origin) {
        const std::string clients = ORVANE_TEST_CLIENTS_DIR;
        Child child(spawn(
            {"/usr/bin/python3", clients + "/gtk-window-at.py", title, "0", "0", "400", "300"}));
        if (child.pid <= 0) {
            ADD_FAILURE() << "gtk-window-at.py did not start";
            return {};
        }
        std::optional<CompositorWindow> found;
        const bool listed = queue_->runTasksUntil(
            [&] {
                const auto windows = link_->snapshot().windows;
                if (windows) {
                    for (const auto& window : *windows) {
                        if (window.title == title) {
                            found = window;
                        }
                    }
                }
                return found.has_value();
            },
            20s);
        if (!listed) {
            ADD_FAILURE() << title << " was not listed";
            return {};
        }
        const Opened opened{static_cast<pid_t>(found->pid),
                            CompositorWindowServer::numberOf(found->id)};
        children_[opened.number] = std::move(child);
        const auto x = static_cast<long>(origin.x);
        const auto y = static_cast<long>(origin.y);
        std::string error;
        EXPECT_TRUE(link_->runCommand("[con_id=" + std::to_string(found->id) +
                                          "] floating enable, move absolute position " +
                                          std::to_string(x) + " " + std::to_string(y),
                                      &error))
            << error;
        // Listed where it was put once sway's event about the move has been read.
        const auto id = found->id;
        queue_->runTasksUntil([&] {
            const auto windows = link_->snapshot().windows;
            return windows && std::any_of(windows->begin(), windows->end(), [&](const auto& w) {
                       return w.id == id && std::lround(w.frame.x) == x &&
                              std::lround(w.frame.y) == y;
                   });
        });
        return opened;
    }
    void raise(const Opened& window) { EXPECT_TRUE(link_->activateWindow(window.number)); }
    void close(Opened& window) { children_.erase(window.number); }
    bool waitUntil(const std::function<bool()>& condition) {
        return queue_->runTasksUntil(condition, 10s);
    }

private:
    std::shared_ptr<SignallingMainQueue> queue_ = std::make_shared<SignallingMainQueue>();
    std::shared_ptr<SwayLink> link_;
    CompositorWindowServer server_;
    std::map<std::uint32_t, Child> children_; // first to go: the windows close before the link
};

} // namespace
} // namespace orvane::linuxbackend::test

namespace orvane::conformance {
INSTANTIATE_TYPED_TEST_SUITE_P(RealSway, WindowServerConformance,
                               linuxbackend::test::RealSwayWindowServerRig);
} // namespace orvane::conformance
