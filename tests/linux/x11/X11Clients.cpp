#include "X11Clients.hpp"

namespace orvane::linuxbackend::test {

RunningClient startXterm(TestDesktop& desktop, const std::string& title, int x, int y) {
    RunningClient client;
    client.process = std::make_unique<ChildProcess>(std::vector<std::string>{
        "xterm", "-T", title, "-geometry", "80x24+" + std::to_string(x) + "+" + std::to_string(y),
        "-e", "cat"});
    client.window = desktop.waitForClientWindow(client.pid()).value_or(0);
    if (client.window) {
        desktop.moveClient(client.window, x, y);
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
    }
    return client;
}

} // namespace orvane::linuxbackend::test
