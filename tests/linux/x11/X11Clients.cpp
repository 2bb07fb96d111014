#include "linux/x11/X11Clients.hpp"

#include "backends/linux/atspi/AtspiAccessibility.hpp"
#include "backends/linux/atspi/AtspiWorker.hpp"
#include "orvane/focus/WindowFinder.hpp"

#include <atspi/atspi.h>

#include <deque>

namespace orvane::linuxbackend::test {
namespace {

// The window manager focuses a new window a little after mapping it; tests start once it has,
// so that this late focus change cannot cross their own.
void settleFocus(TestDesktop& desktop, unsigned long window) {
    desktop.waiter().until([&] { return desktop.activeWindow() == window; }, 2s);
}

std::optional<plinth::Point> findShowingEntryOnWorker(pid_t pid);

} // namespace

RunningClient startXterm(TestDesktop& desktop, const std::string& title, int x, int y) {
    RunningClient client;
    client.process = std::make_unique<ChildProcess>(std::vector<std::string>{
        "xterm", "-T", title, "-geometry", "80x24+" + std::to_string(x) + "+" + std::to_string(y),
        "-e", "cat"});
    client.window = desktop.waitForClientWindow(client.pid()).value_or(0);
    if (client.window) {
        desktop.moveClient(client.window, x, y);
        settleFocus(desktop, client.window);
    }
    return client;
}

RunningClient startWidgetFactory(TestDesktop& desktop, int x, int y) {
    RunningClient client;
    client.process =
        std::make_unique<ChildProcess>(std::vector<std::string>{"gtk3-widget-factory"});
    client.window = desktop.waitForClientWindow(client.pid(), 20s).value_or(0);
    if (client.window) {
        desktop.moveClient(client.window, x, y);
        settleFocus(desktop, client.window);
    }
    return client;
}

// The centre of the first showing single-line text entry of the application, in root
// coordinates, found by walking its accessibility tree directly.
// On the AT-SPI worker, which alone may use libatspi in this process.
std::optional<plinth::Point> findShowingEntry(pid_t pid) {
    using Found = std::optional<plinth::Point>;
    return AtspiWorker::shared()
        .call<Found>(std::chrono::seconds(20), [pid] { return findShowingEntryOnWorker(pid); })
        .value.value_or(std::nullopt);
}

namespace {

std::optional<plinth::Point> findShowingEntryOnWorker(pid_t pid) {
    AtspiAccessibility::initializeOnWorker();
    std::optional<plinth::Point> found;
    AtspiAccessible* desktop = atspi_get_desktop(0);
    const int apps = atspi_accessible_get_child_count(desktop, nullptr);
    std::deque<AtspiAccessible*> queue;
    for (int i = 0; i < apps; ++i) {
        AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, nullptr);
        if (app && static_cast<pid_t>(atspi_accessible_get_process_id(app, nullptr)) == pid) {
            queue.push_back(app);
        } else if (app) {
            g_object_unref(app);
        }
    }
    g_object_unref(desktop);
    int visited = 0;
    while (!queue.empty()) {
        AtspiAccessible* node = queue.front();
        queue.pop_front();
        if (!found && ++visited < 3000) {
            AtspiStateSet* states = atspi_accessible_get_state_set(node);
            const bool showing = atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
            const bool single = atspi_state_set_contains(states, ATSPI_STATE_SINGLE_LINE);
            const bool editable = atspi_state_set_contains(states, ATSPI_STATE_EDITABLE);
            g_object_unref(states);
            const AtspiRole role = atspi_accessible_get_role(node, nullptr);
            if (showing && single && editable && role == ATSPI_ROLE_TEXT) {
                if (AtspiComponent* component = atspi_accessible_get_component_iface(node)) {
                    if (AtspiRect* r = atspi_component_get_extents(
                            component, ATSPI_COORD_TYPE_SCREEN, nullptr)) {
                        if (r->width > 20 && r->height > 10) {
                            found = plinth::Point{r->x + r->width / 2.0, r->y + r->height / 2.0};
                        }
                        g_boxed_free(ATSPI_TYPE_RECT, r);
                    }
                    g_object_unref(component);
                }
            }
            const int count = atspi_accessible_get_child_count(node, nullptr);
            if (role == ATSPI_ROLE_APPLICATION || showing) {
                for (int i = 0; i < count; ++i) {
                    if (auto* child = atspi_accessible_get_child_at_index(node, i, nullptr)) {
                        queue.push_back(child);
                    }
                }
            }
        }
        g_object_unref(node);
    }
    return found;
}

} // namespace

std::optional<ScreenWindow> listed(unsigned long window) {
    for (const auto& candidate : WindowFinder::windowsFrontToBack()) {
        if (candidate.windowID == window) {
            return candidate;
        }
    }
    return std::nullopt;
}

} // namespace orvane::linuxbackend::test
