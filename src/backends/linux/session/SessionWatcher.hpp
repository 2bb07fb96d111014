#pragma once

#include "backends/linux/dbus/BusWorker.hpp"
#include "orvane/platform/Workspace.hpp"

#include <functional>

namespace orvane::linuxbackend {

// Watches sleep, wake, screen lock and unlock over D-Bus on a thread of its own: logind on the
// system bus (PrepareForSleep; Lock, Unlock and LockedHint of this process's login session) and
// the screen savers' ActiveChanged on the session bus. Sleep and wake are reported as they come;
// lock and unlock only when the lock state changes, whichever source told first. A bus or a
// logind that is not there is logged once and the rest keeps working; a bus connection that drops
// is no longer watched.
class SessionWatcher {
public:
    using Report = std::function<void(WorkspaceEvent)>;

    // Both callbacks run on the watcher's thread. `watching`, when set, is called once, when
    // every source that could be reached is being watched.
    explicit SessionWatcher(Report report, std::function<void()> watching = {});
    // Stops watching and joins the thread; returns at once even while a bus has not answered.
    ~SessionWatcher();
    SessionWatcher(const SessionWatcher&) = delete;
    SessionWatcher& operator=(const SessionWatcher&) = delete;

private:
    Report report_;
    std::function<void()> watching_;
    BusWorker worker_{"sleep and screen lock are not watched"}; // last: ends before the rest
};

} // namespace orvane::linuxbackend
