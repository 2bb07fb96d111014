#include "backends/linux/wayland/gnome/SampledInputMonitor.hpp"

#include "backends/linux/wayland/CompositorKeys.hpp"
#include "backends/linux/wayland/CompositorLink.hpp"
#include "backends/linux/wayland/MonitorDelivery.hpp"
#include "backends/linux/wayland/PostedKeys.hpp"

#include <unistd.h>

namespace orvane::linuxbackend {

SampledInputMonitor::SampledInputMonitor(std::shared_ptr<CompositorLink> link,
                                         std::shared_ptr<PostedKeys> posted)
    : link_(std::move(link)), posted_(std::move(posted)) {}

SampledInputMonitor::~SampledInputMonitor() {
    if (!monitors_.empty()) {
        link_->watchInput(0);
    }
}

std::vector<InputEvent> SampledInputMonitor::derive(const std::optional<CompositorInput>& previous,
                                                    const CompositorInput& sample, bool keysAreOurs,
                                                    std::uint64_t reportedFlags) {
    using namespace CompositorKeys;
    const std::uint64_t flags = systemFlagsFromClutter(sample.state);
    // The first sample after (re)starting is the state of the modifiers: a chord let go just
    // before it was never seen held, and one held through it is held.
    const bool flagsToTell = flags != reportedFlags && !keysAreOurs;
    if (!previous) {
        if (flagsToTell) {
            return {{InputEventType::flagsChanged, flags}};
        }
        return {};
    }
    const bool moved = sample.x != previous->x || sample.y != previous->y;
    const bool left = (sample.state & button1Bit) != 0;
    const bool right = (sample.state & button3Bit) != 0;
    const bool buttonsChanged =
        ((sample.state ^ previous->state) & (button1Bit | button2Bit | button3Bit)) != 0;
    const bool flagsChanged = flags != systemFlagsFromClutter(previous->state);
    std::vector<InputEvent> events;
    if (moved) {
        const int type = left    ? InputEventType::leftMouseDragged
                         : right ? InputEventType::rightMouseDragged
                                 : InputEventType::mouseMoved;
        events.push_back({type, flags});
    }
    if (left && !(previous->state & button1Bit)) {
        events.push_back({InputEventType::leftMouseDown, flags});
    }
    if (right && !(previous->state & button3Bit)) {
        events.push_back({InputEventType::rightMouseDown, flags});
    }
    // Our own modifier keys change the state as the user's do.
    if (flagsToTell) {
        events.push_back({InputEventType::flagsChanged, flags});
    }
    // Activity that no pointer change explains was the keyboard (or a scroll wheel, or a click
    // quicker than a sample, which the samples cannot tell apart); a modifier alone is told by
    // its flags. The idle times of two samples alone do not say it: a key pressed just before
    // one sample and another a while before the next leave the second idle time the longer.
    const auto lastInputAt = [](const CompositorInput& input) {
        return input.receivedAtMilliseconds - input.idleMilliseconds;
    };
    const bool activity = sample.idleMilliseconds < previous->idleMilliseconds ||
                          lastInputAt(sample) > lastInputAt(*previous) + deliveryJitterMilliseconds;
    if (activity && !moved && !buttonsChanged && !flagsChanged && !keysAreOurs) {
        // A derived press says nothing of the key: no chord matches it, so it counts as typing.
        events.push_back({InputEventType::keyDown, flags, Key::unknown});
    }
    return events;
}

void SampledInputMonitor::handle(const CompositorInput& sample) {
    const auto inputAt =
        PostedKeys::Clock::time_point(std::chrono::duration_cast<PostedKeys::Clock::duration>(
            std::chrono::duration<double, std::milli>(sample.receivedAtMilliseconds -
                                                      sample.idleMilliseconds)));
    bool keysAreOurs = posted_ && (posted_->isRecent() || posted_->explains(inputAt));
    // Keys typed into our own windows are no other program's input.
    if (!keysAreOurs) {
        const auto snapshot = link_->snapshot();
        if (snapshot.windows && snapshot.focusWindow != 0) {
            for (const auto& window : *snapshot.windows) {
                if (window.id == snapshot.focusWindow &&
                    window.pid == static_cast<std::uint32_t>(::getpid())) {
                    keysAreOurs = true;
                }
            }
        }
    }
    const auto events =
        derive(previous_ ? std::optional<CompositorInput>(*previous_) : std::nullopt, sample,
               keysAreOurs, reportedFlags_);
    previous_ = std::make_unique<CompositorInput>(sample);
    for (const auto& event : events) {
        if (event.type == InputEventType::flagsChanged) {
            reportedFlags_ = event.modifierFlags;
        }
    }
    deliverToMonitors(monitors_, events);
}

std::optional<MonitorToken>
SampledInputMonitor::addGlobalMonitor(std::uint64_t mask,
                                      std::function<void(const InputEvent&)> handler) {
    if (!handler) {
        return std::nullopt;
    }
    if (monitors_.empty()) {
        previous_.reset();
        reportedFlags_ = 0; // what the new monitors were told: nothing held
        samples_ = link_->listen([this](const CompositorEvent& event) {
            if (event.kind == CompositorEvent::Kind::input) {
                handle(event.input);
            } else if (event.kind == CompositorEvent::Kind::vanished) {
                previous_.reset(); // a link that comes back starts its samples afresh
            }
        });
        // A link not there yet is asked when it comes.
        link_->watchInput(sampleMilliseconds);
    }
    const MonitorToken token = nextToken_++;
    monitors_.emplace(token, Monitor{mask, std::move(handler)});
    return token;
}

void SampledInputMonitor::removeMonitor(MonitorToken token) {
    if (monitors_.erase(token) > 0 && monitors_.empty()) {
        samples_.reset();
        link_->watchInput(0);
    }
}

} // namespace orvane::linuxbackend
