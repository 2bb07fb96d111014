// Ahead of Xlib, whose Status macro would rename the bridge state's enum.
#include "orvane/platform/Platform.hpp"

#include "backends/linux/x11/X11Workspace.hpp"

#include "backends/linux/DesktopProcesses.hpp"
#include "backends/linux/freedesktop/DesktopEntries.hpp"
#include "backends/linux/runtime/MainQueueObservers.hpp"
#include "backends/linux/session/OverviewWatcher.hpp"
#include "backends/linux/session/SessionNotifier.hpp"
#include "backends/linux/x11/X11Connection.hpp"
#include "backends/linux/x11/X11DisplayWatcher.hpp"
#include "backends/linux/x11/X11Displays.hpp"
#include "backends/linux/x11/X11RaisedWindows.hpp"
#include "backends/linux/x11/X11WindowCache.hpp"
#include "backends/linux/x11/X11WindowList.hpp"

#include <X11/Xatom.h>

#include <algorithm>
#include <unistd.h>

namespace orvane::linuxbackend {

X11Workspace::X11Workspace(std::shared_ptr<X11Connection> connection,
                           std::shared_ptr<const DesktopEntries> entries,
                           std::shared_ptr<X11RaisedWindows> raised,
                           std::shared_ptr<MainQueue> mainQueue)
    : connection_(std::move(connection)), entries_(std::move(entries)), raised_(std::move(raised)),
      mainQueue_(std::move(mainQueue)) {}

X11Workspace::~X11Workspace() = default;

RunningApplication X11Workspace::describe(const X11WindowInfo& window) const {
    RunningApplication application;
    application.pid = window.pid.value_or(0);
    application.applicationId = entries_->applicationIdentifier(
        window.applicationId, window.instanceName, window.className);
    auto name =
        entries_->applicationName(window.applicationId, window.instanceName, window.className);
    if (!name.empty()) {
        application.localizedName = name;
    } else if (window.pid) {
        application.localizedName = DesktopProcesses::commandName(*window.pid);
    }
    return application;
}

std::shared_ptr<const std::vector<X11WindowInfo>> X11Workspace::windows() const {
    return X11WindowCache::windowsFrom(cache_.get(), *connection_);
}

Window X11Workspace::activeWindow() const {
    return cache_ ? cache_->activeWindow() : X11WindowList::activeWindow(*connection_);
}

bool X11Workspace::isLauncherWindow(const X11WindowInfo& window) const {
    if (launchers_.empty()) {
        return false;
    }
    const auto identifier = entries_->applicationIdentifier(window.applicationId,
                                                            window.instanceName, window.className);
    return identifier && launchers_.contains(*identifier);
}

std::optional<RunningApplication> X11Workspace::frontmostApplication() const {
    if (!launchers_.empty()) {
        if (auto windows = this->windows()) {
            for (const auto& window : *windows) {
                if (window.overrideRedirect && isLauncherWindow(window)) {
                    return describe(window);
                }
            }
        }
    }
    const Window active = activeWindow();
    if (active == None) {
        return std::nullopt;
    }
    X11Connection::ErrorTrap trap(*connection_);
    X11WindowInfo window;
    window.window = active;
    window.pid = X11WindowList::pidOf(*connection_, active);
    if (!window.pid) {
        return std::nullopt;
    }
    if (auto wmClass = connection_->property8(active, XA_WM_CLASS, XA_STRING)) {
        const auto split = wmClass->find('\0');
        window.instanceName = wmClass->substr(0, split);
        if (split != std::string::npos) {
            const auto rest = wmClass->substr(split + 1);
            window.className = rest.substr(0, rest.find('\0'));
        }
    }
    window.applicationId = connection_
                               ->property8(active, connection_->atom("_GTK_APPLICATION_ID"),
                                           connection_->atom("UTF8_STRING"))
                               .value_or("");
    return describe(window);
}

std::optional<RunningApplication> X11Workspace::runningApplication(pid_t pid) const {
    if (!DesktopProcesses::exists(pid)) {
        return std::nullopt;
    }
    if (auto windows = this->windows()) {
        for (const auto& window : *windows) {
            if (window.isClient && window.pid == pid) {
                return describe(window);
            }
        }
    }
    // A process without a window on screen: still running, known by its command name.
    RunningApplication application;
    application.pid = pid;
    application.localizedName = DesktopProcesses::commandName(pid);
    return application;
}

bool X11Workspace::activate(pid_t pid) {
    auto windows = this->windows();
    if (!windows) {
        return false;
    }
    std::optional<Window> target = raised_->windowFor(pid, *windows, activeWindow());
    if (!target) {
        // Topmost ordinary window first, then any other client window of the application.
        for (const auto& window : *windows) {
            if (window.isClient && window.pid == pid &&
                window.layer == X11WindowList::normalLayer) {
                target = window.window;
                break;
            }
        }
    }
    if (!target) {
        for (const auto& window : *windows) {
            if (window.isClient && window.pid == pid) {
                target = window.window;
                break;
            }
        }
    }
    return target && activateWindow(*target);
}

bool X11Workspace::activateWindow(pid_t pid, std::uint32_t windowNumber) {
    auto windows = this->windows();
    if (!windows) {
        return false;
    }
    const Window client = windowNumber;
    const bool listed = std::any_of(windows->begin(), windows->end(), [&](const auto& window) {
        return window.isClient && window.window == client && window.pid == pid;
    });
    if (!listed) {
        return false;
    }
    // Later activations of the application mean this window, as when it is raised by hand.
    raised_->remember(pid, client);
    if (activateWindow(client)) {
        return true;
    }
    // A window with a modal dialog open hands focus to the dialog: that is the window's own.
    const Window active = activeWindow();
    return active != None && X11WindowList::transientFor(*connection_, active) == client;
}

bool X11Workspace::activateWindow(Window client) {
    X11Connection& connection = *connection_;
    if (!connection.isAlive() || client == None) {
        return false;
    }
    ::Display* display = connection.display();
    const Atom activeAtom = connection.atom("_NET_ACTIVE_WINDOW");
    X11Connection::ErrorTrap trap(connection);
    connection.discardEvents();

    const Window current = activeWindow();
    if (current == client) {
        // Asking again would make some window managers drop and retake focus; just raise.
        XRaiseWindow(display, client);
        return trap.sync() == 0;
    }
    // Dated by the user's latest input, as a pager's request is: window managers refuse
    // requests older than the focused window's last user time. Without one, a fresh time.
    const auto inputTime = lastInputTime_ ? lastInputTime_() : std::nullopt;
    const Time time = inputTime ? static_cast<Time>(*inputTime) : connection.serverTime();

    // The cache watches the root on a connection of its own; without it, this one listens.
    const bool watched = cache_ && cache_->isWatching();
    if (!watched) {
        XSelectInput(display, connection.root(), PropertyChangeMask);
    }
    bool failed = false;
    const auto request = [&](Time stamp) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = client;
        event.xclient.message_type = activeAtom;
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2; // source indication: a pager, i.e. the user's own request
        event.xclient.data.l[1] = static_cast<long>(stamp);
        event.xclient.data.l[2] = static_cast<long>(current);
        XSendEvent(display, connection.root(), False,
                   SubstructureRedirectMask | SubstructureNotifyMask, &event);
        XRaiseWindow(display, client);
        // A window that is gone fails the request at once; otherwise the property's change
        // says when the window manager has acted.
        if (trap.sync() != 0) {
            failed = true;
            return false;
        }
        if (watched) {
            return cache_->waitForActive(client, activationWait_);
        }
        return X11WindowList::activeWindow(connection) == client ||
               connection.waitForEvent(
                   [&](const XEvent& e) {
                       return e.type == PropertyNotify && e.xproperty.atom == activeAtom &&
                              e.xproperty.window == connection.root() &&
                              X11WindowList::activeWindow(connection) == client;
                   },
                   activationWait_);
    };
    bool active = request(time);
    if (!active && !failed && inputTime && connection.isAlive()) {
        // Focus moved since that input without the user (a window closed, another program
        // took it): the server ignores a focus change dated before the last one, so once
        // more with the time now.
        active = request(connection.serverTime());
    }
    if (!watched) {
        XSelectInput(display, connection.root(), NoEventMask);
        XSync(display, False);
        connection.discardEvents();
    }
    return active;
}

bool X11Workspace::openURL(const std::string& url) {
    return DesktopProcesses::openWithUserHandler(url);
}

bool X11Workspace::isOverviewShowing() const {
    if (!overview_) {
        overview_ = std::make_unique<OverviewWatcher>();
    }
    return overview_->isShowing();
}

Subscription X11Workspace::observe(WorkspaceEvent event, std::function<void()> handler) {
    if (event == WorkspaceEvent::displaysChanged) {
        if (!watcher_) {
            watcher_ = std::make_unique<X11DisplayWatcher>(fixedOrInstalledQueue(mainQueue_));
            // Observers are told in order: this one first, so they all see the new monitors.
            dropRememberedMonitors_ = watcher_->observe([weak = displays_] {
                if (auto displays = weak.lock()) {
                    displays->invalidate();
                }
            });
        }
        return watcher_->observe(std::move(handler));
    }
    if (!session_) {
        session_ = std::make_unique<SessionNotifier>(fixedOrInstalledQueue(mainQueue_));
    }
    return session_->observe(event, std::move(handler));
}

} // namespace orvane::linuxbackend
