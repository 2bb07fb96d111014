#include "backends/linux/wayland/client/ActivityInputMonitor.hpp"

#include "backends/linux/wayland/CompositorLink.hpp"
#include "backends/linux/wayland/MonitorDelivery.hpp"

#include <unistd.h>

namespace orvane::linuxbackend {

ActivityInputMonitor::ActivityInputMonitor(std::shared_ptr<ActivitySource> activity,
                                           std::shared_ptr<CompositorLink> link,
                                           std::function<bool()> keysAreOurs,
                                           std::shared_ptr<MainQueue> mainQueue,
                                           std::shared_ptr<Clock> clock, bool pointerFromLink)
    : activity_(std::move(activity)), link_(std::move(link)), keysAreOurs_(std::move(keysAreOurs)),
      mainQueue_(std::move(mainQueue)), clock_(std::move(clock)), pointerKnown_(pointerFromLink),
      self_(std::make_shared<ActivityInputMonitor*>(this)) {}

ActivityInputMonitor::~ActivityInputMonitor() {
    stop();
}

std::vector<InputEvent> ActivityInputMonitor::derive(ActivityDerivation& state,
                                                     const ActivitySignal& signal,
                                                     double pointerWindowSeconds,
                                                     bool pointerSampled, bool keysAreOurs) {
    using Kind = ActivitySignal::Kind;
    std::vector<InputEvent> events;
    const auto decide = [&](double at) {
        // The pointer moved while the timer ran, or just after it resumed (its sample late).
        if (state.lastPointerMove < at - pointerWindowSeconds) {
            // A derived press says nothing of the key: no chord matches it, so it counts as typing.
            events.push_back({InputEventType::keyDown, 0, Key::unknown});
        }
    };
    const auto heard = [&] {
        if (keysAreOurs) {
            return;
        }
        if (pointerSampled) {
            state.undecided.push_back(signal.atSeconds);
        } else {
            decide(signal.atSeconds);
        }
    };
    switch (signal.kind) {
    case Kind::resumed:
        state.active = true;
        state.activeSince = signal.atSeconds;
        heard();
        break;
    case Kind::tick:
        if (state.active && signal.atSeconds - state.activeSince <= longestActivitySeconds) {
            heard();
        }
        break;
    case Kind::idled:
        state.active = false;
        break;
    case Kind::pointer:
        if (state.pointer &&
            (state.pointer->x != signal.pointer.x || state.pointer->y != signal.pointer.y)) {
            state.lastPointerMove = signal.atSeconds;
            events.push_back({InputEventType::mouseMoved, 0});
        }
        state.pointer = signal.pointer;
        break;
    case Kind::settle: {
        std::vector<double> later;
        bool decided = false;
        for (double at : state.undecided) {
            // (A timer never fires early, but its due time may round below the sum.)
            if (at > signal.atSeconds - settleSeconds + 1e-6) {
                later.push_back(at);
            } else if (!decided) { // one key press says all a burst of them would
                decide(at);
                decided = !events.empty();
            }
        }
        state.undecided = later;
        break;
    }
    case Kind::unavailable:
        state = ActivityDerivation{};
        break;
    }
    return events;
}

std::string ActivityInputMonitor::reducedGuards() const {
    if (!activity_->available()) {
        return "This desktop tells Orvane nothing of typing, the pointer or clicks, so none of "
               "them holds focus." +
               limits();
    }
    std::string text = "This desktop tells Orvane only that there was input, not which: clicks, "
                       "modifier chords, and copy and cut hold no focus";
    if (!pointerKnown_) {
        text += ", and pointer use holds it as typing does";
    }
    return text + "." + limits();
}

std::string ActivityInputMonitor::limits() const {
    std::string text;
    for (const auto& limit : limits_) {
        if (auto sentence = limit(); !sentence.empty()) {
            text += " " + sentence;
        }
    }
    return text;
}

double ActivityInputMonitor::pointerWindowSeconds() const {
    return activity_->timeoutMilliseconds() / 1000.0 + pointerSampleMilliseconds / 1000.0;
}

bool ActivityInputMonitor::ourKeys() const {
    if (keysAreOurs_ && keysAreOurs_()) {
        return true;
    }
    // Keys typed into our own windows are no other program's input.
    if (link_) {
        const auto snapshot = link_->snapshot();
        if (snapshot.windows && snapshot.focusWindow != 0) {
            for (const auto& window : *snapshot.windows) {
                if (window.id == snapshot.focusWindow &&
                    window.pid == static_cast<std::uint32_t>(::getpid())) {
                    return true;
                }
            }
        }
    }
    return false;
}

void ActivityInputMonitor::handle(const ActivitySignal& signal) {
    using Kind = ActivitySignal::Kind;
    const bool ours = (signal.kind == Kind::resumed || signal.kind == Kind::tick) && ourKeys();
    deliver(derive(state_, signal, pointerWindowSeconds(), pointerKnown_, ours));
    std::weak_ptr<ActivityInputMonitor*> weak = self_;
    if (!state_.undecided.empty() && !settle_) {
        settle_ = mainQueue_->after(settleSeconds, [weak] {
            if (auto self = weak.lock()) {
                auto& monitor = **self;
                monitor.settle_.reset();
                monitor.handle({Kind::settle, monitor.clock_->monotonic(), {}});
            }
        });
    }
    const bool ended = signal.kind == Kind::idled || signal.kind == Kind::unavailable ||
                       (signal.kind == Kind::tick &&
                        signal.atSeconds - state_.activeSince > longestActivitySeconds);
    if (signal.kind == Kind::resumed && !ticks_) {
        ticks_ = mainQueue_->repeating(tickSeconds, tickSeconds / 4, [weak] {
            if (auto self = weak.lock()) {
                auto& monitor = **self;
                monitor.handle({Kind::tick, monitor.clock_->monotonic(), {}});
            }
        });
    } else if (ended && ticks_) {
        ticks_->cancel();
        ticks_.reset();
    }
}

void ActivityInputMonitor::deliver(const std::vector<InputEvent>& events) {
    deliverToMonitors(monitors_, events);
}

void ActivityInputMonitor::start() {
    state_ = ActivityDerivation{};
    activitySubscription_ = activity_->listen([this](const ActivityChange& change) {
        using Kind = ActivitySignal::Kind;
        const Kind kind = change.kind == ActivityChange::Kind::resumed ? Kind::resumed
                          : change.kind == ActivityChange::Kind::idled ? Kind::idled
                                                                       : Kind::unavailable;
        handle({kind, clock_->monotonic(), {}});
    });
    if (link_) {
        linkSubscription_ = link_->listen([this](const CompositorEvent& event) {
            if (event.kind == CompositorEvent::Kind::input) {
                pointerKnown_ = true;
                handle({ActivitySignal::Kind::pointer,
                        clock_->monotonic(),
                        {double(event.input.x), double(event.input.y)}});
            } else if (event.kind == CompositorEvent::Kind::vanished) {
                // A link that comes back starts its samples afresh.
                state_.pointer.reset();
            }
        });
        pointerKnown_ = link_->watchInput(pointerSampleMilliseconds) || pointerKnown_;
    }
}

void ActivityInputMonitor::stop() {
    activitySubscription_.reset();
    linkSubscription_.reset();
    if (ticks_) {
        ticks_->cancel();
        ticks_.reset();
    }
    if (settle_) {
        settle_->cancel();
        settle_.reset();
    }
    if (link_ && !monitors_.empty()) {
        link_->watchInput(0);
    }
}

std::optional<MonitorToken>
ActivityInputMonitor::addGlobalMonitor(std::uint64_t mask,
                                       std::function<void(const InputEvent&)> handler) {
    if (!handler) {
        return std::nullopt;
    }
    if (monitors_.empty()) {
        start();
    }
    const MonitorToken token = nextToken_++;
    monitors_.emplace(token, Monitor{mask, std::move(handler)});
    return token;
}

void ActivityInputMonitor::removeMonitor(MonitorToken token) {
    if (monitors_.count(token) > 0 && monitors_.size() == 1) {
        stop();
    }
    monitors_.erase(token);
}

} // namespace orvane::linuxbackend
