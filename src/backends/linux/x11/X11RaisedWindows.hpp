#pragma once

#include <X11/Xlib.h>

#include <map>
#include <optional>
#include <sys/types.h>

namespace orvane::linuxbackend {

// The window of each application that was last raised or made main through the accessibility
// interface: activating the application brings that window forward rather than whichever of its
// windows happens to be on top. Main thread.
class X11RaisedWindows {
public:
    void remember(pid_t pid, Window window) { windows_[pid] = window; }
    std::optional<Window> windowFor(pid_t pid) const {
        auto it = windows_.find(pid);
        if (it == windows_.end()) {
            return std::nullopt;
        }
        return it->second;
    }

private:
    std::map<pid_t, Window> windows_;
};

} // namespace orvane::linuxbackend
