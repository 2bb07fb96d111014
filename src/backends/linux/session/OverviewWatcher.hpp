#pragma once

#include "backends/linux/dbus/BusWorker.hpp"
#include "backends/linux/session/KWinEffectsPoll.hpp"

#include <atomic>
#include <functional>
#include <set>
#include <string>

namespace orvane::linuxbackend {

// Follows the desktop's full-screen overview over the session bus, on a thread of its own, so
// that asking costs nothing: GNOME Shell's OverviewActive (a property the shell announces when
// it changes; its search is part of the overview) and KWin's overview effects, which KWin
// lists in activeEffects but never announces, so that list is read a few times a second while
// KWin is on the bus. A shell that leaves the bus takes its overview with it. Without a session
// bus nothing is ever showing (said once in the log).
class OverviewWatcher {
public:
    // Both run on the watcher's thread. `changed` is told every change of `isShowing`;
    // `watching`, once, when the shells present at the start have been asked.
    explicit OverviewWatcher(std::function<void(bool)> changed = {},
                             std::function<void()> watching = {});
    // Stops watching and joins the thread; returns at once even while a shell has not answered.
    ~OverviewWatcher();
    OverviewWatcher(const OverviewWatcher&) = delete;
    OverviewWatcher& operator=(const OverviewWatcher&) = delete;

    // Any thread.
    bool isShowing() const { return gnome_.load() || kwin_.load(); }

    // The KWin effects that are the overview (or present the windows the same way), as on
    // Wayland.
    static const std::set<std::string>& kwinOverviewEffects();
    // How often KWin's effects are read while KWin is on the bus.
    static constexpr int kwinPollMilliseconds = int(kwinEffectsPollMicroseconds / 1000);

private:
    friend class OverviewLoop;
    void set(std::atomic<bool>& flag, bool value);

    std::function<void(bool)> changed_;
    std::function<void()> watching_;
    std::atomic<bool> gnome_{false};
    std::atomic<bool> kwin_{false};
    BusWorker worker_{"the desktop's overview is not watched"}; // last: ends before the rest
};

} // namespace orvane::linuxbackend
