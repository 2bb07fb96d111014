#pragma once

#include "linux/x11/X11TestSupport.hpp"
#include "orvane/focus/ScreenWindow.hpp"

#include <memory>

namespace orvane::linuxbackend::test {

// The real clients the tests drive: an xterm and gtk3-widget-factory, each with its client
// window once it is managed.
struct RunningClient {
    std::unique_ptr<ChildProcess> process;
    unsigned long window = 0;

    pid_t pid() const { return process->pid(); }
};

// An xterm titled `title` whose frame's top-left corner is at root (x, y).
RunningClient startXterm(TestDesktop& desktop, const std::string& title, int x, int y);

// gtk3-widget-factory, moved so its frame's top-left corner is at root (x, y).
RunningClient startWidgetFactory(TestDesktop& desktop, int x, int y);

// The centre (root coordinates) of the first showing, editable single-line text entry of the
// application, found by walking its accessibility tree directly.
std::optional<plinth::Point> findShowingEntry(pid_t pid);

// The window as the window finder lists it now, if it does.
std::optional<ScreenWindow> listed(unsigned long window);

} // namespace orvane::linuxbackend::test
