#pragma once

#include "backends/linux/x11/X11WindowList.hpp"

#include <X11/Xlib.h>

#include <map>
#include <optional>
#include <sys/types.h>
#include <vector>

namespace orvane::linuxbackend {

// The window of each application that was last raised or made main through the accessibility
// interface: activating the application brings that window forward rather than whichever of its
// windows happens to be on top, but only while it is still the application's frontmost. Once the
// user has moved on to another of its windows, it is forgotten. Main thread.
class X11RaisedWindows {
public:
    // Until it is next looked up, the window counts even below the application's other windows:
    // a window made main is raised only by the activation that follows.
    void remember(pid_t pid, Window window);

    // The remembered window of `pid` while it is listed in `frontToBack` (the current window list)
    // as a client of `pid` and is the application's frontmost: it is `active` (the window
    // manager's active window), or no other window of the application in its layer is active or
    // above it. Forgets it otherwise, and forgets the windows of other applications that are no
    // longer listed.
    std::optional<Window> windowFor(pid_t pid, const std::vector<X11WindowInfo>& frontToBack,
                                    Window active);

private:
    struct Remembered {
        Window window = None;
        bool lookedUp = false;
    };
    std::map<pid_t, Remembered> windows_;
};

} // namespace orvane::linuxbackend
