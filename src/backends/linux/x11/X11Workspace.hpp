#pragma once

#include "orvane/platform/MainQueue.hpp"
#include "orvane/platform/Workspace.hpp"

#include <X11/Xlib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace orvane::linuxbackend {

class X11Connection;
class DesktopEntries;
class X11DisplayWatcher;
class X11Displays;
class X11RaisedWindows;
class X11WindowCache;
class OverviewWatcher;
class SessionNotifier;
struct X11WindowInfo;

// Applications and activation through the window manager (EWMH); display changes through
// XRandR, sleep, wake, lock and unlock through D-Bus. Main thread.
class X11Workspace : public Workspace {
public:
    // `mainQueue` delivers observed events; when null, the installed platform's main queue is
    // used at the time of each event.
    X11Workspace(std::shared_ptr<X11Connection> connection,
                 std::shared_ptr<const DesktopEntries> entries,
                 std::shared_ptr<X11RaisedWindows> raised, std::shared_ptr<MainQueue> mainQueue);
    ~X11Workspace() override;

    // The application of the active window, unless a launcher shows an override-redirect window
    // (rofi, dmenu): those take the keyboard without ever becoming the active window.
    std::optional<RunningApplication> frontmostApplication() const override;
    std::optional<RunningApplication> runningApplication(pid_t pid) const override;
    bool activate(pid_t pid) override;
    bool activateWindow(pid_t pid, std::uint32_t windowNumber) override;
    bool openURL(const std::string& url) override;
    // Watched over the session bus from the first question on.
    bool isOverviewShowing() const override;
    Subscription observe(WorkspaceEvent event, std::function<void()> handler) override;

    static constexpr std::chrono::milliseconds defaultActivationWait{200};

    // Asks the window manager to activate `client` and raises it; true once _NET_ACTIVE_WINDOW
    // names it (waits at most the activation wait, twice when a request dated by the user's
    // input is not followed).
    bool activateWindow(Window client);
    void setActivationWait(std::chrono::milliseconds wait) { activationWait_ = wait; }

    // The X server time of the user's latest key or button event, which dates activation
    // requests; nothing when none is known (then the server's time now does).
    void setLastInputTime(std::function<std::optional<unsigned long>()> lastInputTime) {
        lastInputTime_ = std::move(lastInputTime);
    }

    // Listings and the active window come from this cache (when set) instead of the server.
    void setWindowCache(std::shared_ptr<X11WindowCache> cache) { cache_ = std::move(cache); }

    // The application identifiers of launchers (as `RunningApplication::applicationId`).
    void setLauncherIdentifiers(std::set<std::string> identifiers) {
        launchers_ = std::move(identifiers);
    }
    // The window belongs to one of those launchers.
    bool isLauncherWindow(const X11WindowInfo& window) const;

    // Whose remembered monitors a display change drops, before any observer hears of it.
    void setDisplays(std::weak_ptr<X11Displays> displays) { displays_ = std::move(displays); }

private:
    RunningApplication describe(const X11WindowInfo& window) const;
    std::shared_ptr<const std::vector<X11WindowInfo>> windows() const;
    Window activeWindow() const;

    std::shared_ptr<X11Connection> connection_;
    std::shared_ptr<const DesktopEntries> entries_;
    std::shared_ptr<X11RaisedWindows> raised_;
    std::shared_ptr<X11WindowCache> cache_;
    std::shared_ptr<MainQueue> mainQueue_;
    std::set<std::string> launchers_;
    std::function<std::optional<unsigned long>()> lastInputTime_;
    std::chrono::milliseconds activationWait_ = defaultActivationWait;
    std::unique_ptr<X11DisplayWatcher> watcher_;
    std::weak_ptr<X11Displays> displays_;
    Subscription dropRememberedMonitors_;
    std::unique_ptr<SessionNotifier> session_;
    mutable std::unique_ptr<OverviewWatcher> overview_;
};

} // namespace orvane::linuxbackend
