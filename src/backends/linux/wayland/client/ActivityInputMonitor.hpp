#pragma once

#include "backends/linux/wayland/client/ActivitySource.hpp"
#include "orvane/platform/Cancellation.hpp"
#include "orvane/platform/Clock.hpp"
#include "orvane/platform/InputMonitor.hpp"
#include "orvane/platform/MainQueue.hpp"
#include "plinth/Geometry.hpp"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane::linuxbackend {

class CompositorLink;

// What the derivation is told, in the order it happened, on the main thread.
struct ActivitySignal {
    enum class Kind {
        resumed,     // input now
        idled,       // none for the timeout
        tick,        // still no idle since `resumed`: input within the timeout
        pointer,     // the pointer is at `pointer`
        settle,      // decide the activity heard `settleSeconds` ago or earlier
        unavailable, // activity is not known any more
    };
    Kind kind = Kind::tick;
    double atSeconds = 0; // monotonic
    plinth::Point pointer;
};

// The derivation's memory between signals.
struct ActivityDerivation {
    bool active = false;
    double activeSince = 0;
    std::optional<plinth::Point> pointer;
    double lastPointerMove = Clock::distantPast;
    // Activity heard while the pointer is sampled waits for the sample that may explain it.
    std::vector<double> undecided;
};

// Input events derived from the compositor's idle timer, for desktops that give a client no
// other program's input: activity is a key press of an unknown key, so the typing guard holds,
// unless a pointer move explains it, where the desktop tells the pointer (KWin). Handlers run
// on the main thread.
class ActivityInputMonitor : public InputMonitor {
public:
    static constexpr unsigned pointerSampleMilliseconds = 66;
    // How often input is inferred again while no idle has come since it resumed.
    static constexpr double tickSeconds = 0.25;
    // Typing pauses more often than this. Longer unbroken activity is an idle inhibitor (a
    // video playing holds the compositor's timer as input does) or steady pointer use, not
    // typing: it stops counting.
    static constexpr double longestActivitySeconds = 5;
    // Activity is decided this long after it is heard, so that the pointer sample showing the
    // move that caused it has come.
    static constexpr double settleSeconds = 0.1;

    // `link` (may be null) gives the focused window, and the pointer where `pointerFromLink`
    // (it is known again once the monitors are installed); `keysAreOurs` tells whether
    // activity now may be keys Orvane posted.
    ActivityInputMonitor(std::shared_ptr<ActivitySource> activity,
                         std::shared_ptr<CompositorLink> link, std::function<bool()> keysAreOurs,
                         std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<Clock> clock,
                         bool pointerFromLink = false);
    ~ActivityInputMonitor() override;

    std::optional<MonitorToken>
    addGlobalMonitor(std::uint64_t mask, std::function<void(const InputEvent&)> handler) override;
    void removeMonitor(MonitorToken token) override;

    // The events one signal makes. A move within `pointerWindowSeconds` of activity explains
    // it; while the pointer is sampled, activity is decided only when it settles. Our own keys
    // make none.
    static std::vector<InputEvent> derive(ActivityDerivation& state, const ActivitySignal& signal,
                                          double pointerWindowSeconds, bool pointerSampled,
                                          bool keysAreOurs);

    // Clicks, chords and copies are never known; typing is not told from pointer use where
    // the pointer is not; nothing is where the compositor has no idle timer for us.
    std::string reducedGuards() const override;
    // A sentence the desktop adds to those words (what else it does not tell), asked each time:
    // what a compositor offers is known only once it answers.
    void addLimit(std::function<std::string()> sentence) { limits_.push_back(std::move(sentence)); }

private:
    struct Monitor {
        std::uint64_t mask;
        std::function<void(const InputEvent&)> handler;
    };

    void start();
    void stop();
    void handle(const ActivitySignal& signal);
    void deliver(const std::vector<InputEvent>& events);
    bool ourKeys() const;
    double pointerWindowSeconds() const;
    std::string limits() const;

    std::shared_ptr<ActivitySource> activity_;
    std::shared_ptr<CompositorLink> link_;
    std::function<bool()> keysAreOurs_;
    std::shared_ptr<MainQueue> mainQueue_;
    std::shared_ptr<Clock> clock_;
    std::vector<std::function<std::string()>> limits_;
    std::map<MonitorToken, Monitor> monitors_;
    MonitorToken nextToken_ = 1;
    ActivityDerivation state_;
    bool pointerKnown_ = false;
    Subscription activitySubscription_;
    Subscription linkSubscription_;
    TimerHandle ticks_;
    TimerHandle settle_;
    // Timers hold this weakly: alive exactly as long as the monitor is.
    std::shared_ptr<ActivityInputMonitor*> self_;
};

} // namespace orvane::linuxbackend
