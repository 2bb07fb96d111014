#include "backends/sim/SimDesktop.hpp"
#include "conformance/WindowServerConformance.hpp"

namespace orvane::sim {
namespace {

// The simulated window server answers at once: nothing to wait for.
class SimWindowServerRig {
public:
    using Opened = conformance::OpenedWindow;

    static bool available() { return true; }

    SimWindowServerRig() {
        desktop.displays->setFrames({{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}});
    }

    WindowServer& server() { return *desktop.windowServer; }
    plinth::Rect primaryFrame() { return desktop.displays->screens().front().frame; }

    Opened open(const std::string& title, plinth::Point origin) {
        const pid_t pid = nextPid_++;
        const auto number = desktop.windowServer->addWindow(
            {pid, 0, {origin.x, origin.y, 400, 300}, 0, "App", title});
        return {pid, number};
    }
    void raise(const Opened& window) { desktop.windowServer->raiseWindow(window.number); }
    void close(Opened& window) { desktop.windowServer->closeWindow(window.number); }
    bool waitUntil(const std::function<bool()>& condition) { return condition(); }

private:
    SimDesktop desktop;
    pid_t nextPid_ = 700;
};

} // namespace
} // namespace orvane::sim

namespace orvane::conformance {
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, WindowServerConformance, sim::SimWindowServerRig);
} // namespace orvane::conformance
