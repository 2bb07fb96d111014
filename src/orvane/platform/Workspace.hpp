#pragma once

#include "orvane/platform/Subscription.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

namespace orvane {

struct RunningApplication {
    pid_t pid = 0;
    // A stable identifier of the application (a desktop-entry id, a Wayland app id, a
    // window class); nullopt when the platform knows none.
    std::optional<std::string> applicationId;
    // The name shown to people; nullopt when the platform knows none.
    std::optional<std::string> localizedName;
};

enum class WorkspaceEvent {
    willSleep,
    didWake,
    screenLocked,
    screenUnlocked,
    displaysChanged, // a display was added, removed, moved or resized
};

class Workspace {
public:
    virtual ~Workspace() = default;

    // The application whose window has keyboard focus; nullopt when none has.
    virtual std::optional<RunningApplication> frontmostApplication() const = 0;

    // The running application with this process id; nullopt when the process is gone or is
    // not an application.
    virtual std::optional<RunningApplication> runningApplication(pid_t pid) const = 0;

    // Brings the application forward in the ordinary way. False when the platform refused or
    // the application is gone.
    virtual bool activate(pid_t pid) = 0;

    // Brings exactly this window of the application forward and gives it keyboard focus. True
    // only once the platform names that window (or one of its own, such as its dialog) as the
    // focused one: false when the window is gone, is not the application's, or another window
    // ended up focused.
    virtual bool activateWindow(pid_t pid, std::uint32_t windowNumber) = 0;

    // Opens a URL (a settings page, a web page) with the user's handler. False on failure.
    virtual bool openURL(const std::string& url) = 0;

    // True while the desktop's full-screen overview is showing, where the desktop says so other
    // than by a window of its own. Asked on every pose: answers from what it already knows.
    virtual bool isOverviewShowing() const { return false; }

    // Calls `handler` on the main thread whenever `event` happens, until the subscription ends.
    virtual Subscription observe(WorkspaceEvent event, std::function<void()> handler) = 0;
};

} // namespace orvane
