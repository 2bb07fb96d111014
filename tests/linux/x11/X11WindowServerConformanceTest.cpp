// First: Xlib's macros (None, Bool…) would break the test library's templates.
#include "conformance/WindowServerConformance.hpp"

#include "backends/linux/x11/X11Displays.hpp"
#include "backends/linux/x11/X11WindowServer.hpp"
#include "backends/linux/x11/X11Workspace.hpp"
#include "linux/x11/X11Clients.hpp"

#include <map>

namespace orvane::linuxbackend::test {
namespace {

// Real xterms under the harness's window manager; raised through the workspace, closed by
// ending their process.
class X11WindowServerRig {
public:
    using Opened = conformance::OpenedWindow;

    static bool available() { return onTestDesktop(); }

    WindowServer& server() { return *desktop_.desktop().windowServer(); }
    plinth::Rect primaryFrame() { return desktop_.desktop().displays()->screens().front().frame; }

    Opened open(const std::string& title, plinth::Point origin) {
        auto client =
            startXterm(desktop_, title, static_cast<int>(origin.x), static_cast<int>(origin.y));
        EXPECT_NE(client.window, 0u) << "xterm " << title << " did not start";
        const Opened opened{client.pid(), static_cast<std::uint32_t>(client.window)};
        clients_[opened.number] = std::move(client);
        return opened;
    }
    void raise(const Opened& window) {
        desktop_.desktop().workspace()->activateWindow(window.number);
    }
    void close(Opened& window) { clients_.erase(window.number); }
    bool waitUntil(const std::function<bool()>& condition) {
        return desktop_.waiter().until(condition);
    }

private:
    TestDesktop desktop_;
    std::map<std::uint32_t, RunningClient> clients_;
};

} // namespace
} // namespace orvane::linuxbackend::test

namespace orvane::conformance {
// Named so that the window-list group of the X11 tests runs it.
INSTANTIATE_TYPED_TEST_SUITE_P(X11_window_list_conformance, WindowServerConformance,
                               linuxbackend::test::X11WindowServerRig);
} // namespace orvane::conformance
