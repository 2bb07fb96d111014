#include "orvane/guards/InputGuards.hpp"

#include "orvane/platform/Platform.hpp"

#include <cmath>
#include <utility>

namespace orvane {
namespace {

constexpr std::uint64_t keyMask = eventMask(InputEventType::keyDown);
constexpr std::uint64_t modifierMask = eventMask(InputEventType::flagsChanged);
constexpr std::uint64_t pointerMask =
    eventMask(InputEventType::mouseMoved) | eventMask(InputEventType::leftMouseDragged) |
    eventMask(InputEventType::rightMouseDragged) | eventMask(InputEventType::scrollWheel);
constexpr std::uint64_t clickMask =
    eventMask(InputEventType::leftMouseDown) | eventMask(InputEventType::rightMouseDown);

static_assert(keyMask == 1024 && modifierMask == 4096 && pointerMask == 0x4000E0 &&
              clickMask == 10);

std::uint64_t copyModifierOfPlatform() {
    const auto& conventions = platform().desktopConventions;
    return conventions ? conventions->copyModifier : DesktopConventions{}.copyModifier;
}

} // namespace

InputGuards::InputGuards() : self_(std::make_shared<InputGuards*>(this)) {}

InputGuards::~InputGuards() {
    stop();
}

void InputGuards::install(std::uint64_t mask,
                          std::function<void(InputGuards&, const InputEvent&)> update) {
    std::weak_ptr<InputGuards*> weak = self_;
    std::shared_ptr<MainQueue> mainQueue = platform().mainQueue;
    const std::uint64_t generation = generation_;
    auto handler = [weak, mainQueue, generation,
                    update = std::move(update)](const InputEvent& event) {
        // Any thread: take the event's values and hop to the main thread.
        mainQueue->post([weak, generation, update, event] {
            // A modifier held before a restart, delivered after it, would stay held.
            if (auto self = weak.lock(); self && (*self)->generation_ == generation) {
                update(**self, event);
            }
        });
    };
    if (auto token = monitorService_->addGlobalMonitor(mask, std::move(handler))) {
        monitors_.push_back(*token);
    }
}

void InputGuards::start() {
    stop();
    // A release missed while no monitor was installed (a pause chord let go as the guards
    // restart) would otherwise hold the chord forever: start knowing nothing held.
    heldModifiers_ = 0;
    monitorService_ = platform().inputMonitor;
    copyModifier_ = copyModifierOfPlatform();
    install(keyMask, [](InputGuards& guards, const InputEvent& event) {
        guards.handleKey(event.modifierFlags, event.key);
    });
    install(modifierMask, [](InputGuards& guards, const InputEvent& event) {
        guards.heldModifiers_ = event.modifierFlags;
    });
    install(pointerMask,
            [](InputGuards& guards, const InputEvent&) { guards.notePointerActivity(); });
    install(clickMask, [](InputGuards& guards, const InputEvent&) { guards.handleClick(); });
}

void InputGuards::stop() {
    ++generation_;
    if (monitorService_) {
        for (MonitorToken token : monitors_) {
            monitorService_->removeMonitor(token);
        }
    }
    monitors_.clear();
}

void InputGuards::handleKey(std::uint64_t flags, Key key) {
    const bool command = (flags & ModifierFlag::command) != 0;
    const bool control = (flags & ModifierFlag::control) != 0;
    const bool copyOrCut = (flags & copyModifier_) != 0 && (key == Key::c || key == Key::x);
    const double now = platform().clock->monotonic();
    if (command || control) {
        lastCommandChord_ = now;
        if (copyOrCut) {
            lastCopy_ = now;
        }
    } else {
        lastTextKeystroke_ = now;
    }
}

void InputGuards::notePointerActivity() {
    const plinth::Point position = pointerLocation();
    const double moved =
        std::hypot(position.x - lastPointerPosition_.x, position.y - lastPointerPosition_.y);
    if (moved > pointerMoveThreshold) {
        lastPointerMove_ = platform().clock->monotonic();
    }
    lastPointerPosition_ = position;
}

void InputGuards::handleClick() {
    notePointerActivity();
    if (onClick) {
        onClick(pointerLocation());
    }
}

plinth::Point InputGuards::pointerLocation() {
    return platform().windowServer->pointerLocation();
}

} // namespace orvane
