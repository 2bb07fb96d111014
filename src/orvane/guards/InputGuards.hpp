#pragma once

#include "orvane/platform/Clock.hpp"
#include "orvane/platform/InputMonitor.hpp"
#include "plinth/Geometry.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace orvane {

// Watches the user's keyboard and pointer in other applications and keeps the timestamps the
// engine consults before moving focus; reports every left or right click. Decides nothing.
//
// Platform handlers may run on any thread: they copy what they need from the event and post
// the update to the main queue, holding the guards only weakly, so an update that arrives
// after the guards are gone does nothing. Every field is read and written on the main thread.
class InputGuards {
public:
    // A move of at most this many points between two pointer events is not the user's.
    static constexpr double pointerMoveThreshold = 2.0;

    InputGuards();
    // Removes the monitors still installed.
    ~InputGuards();
    InputGuards(const InputGuards&) = delete;
    InputGuards& operator=(const InputGuards&) = delete;

    // Installs the four monitors (keys, modifiers, pointer, clicks), first removing any that
    // an earlier start left installed: never more than one set.
    void start();
    void stop();
    std::size_t monitorCount() const { return monitors_.size(); }

    // Timestamps in monotonic seconds (`Clock::monotonic`), so a step of the wall clock never
    // holds or releases a guard; `Clock::distantPast` until it happens.
    // Last key pressed without Command or Control held: typing.
    double lastTextKeystroke() const { return lastTextKeystroke_; }
    // Last key pressed with Command or Control held.
    double lastCommandChord() const { return lastCommandChord_; }
    // Last copy or cut (the desktop's copy modifier with C or X).
    double lastCopy() const { return lastCopy_; }
    // The full modifier mask of the latest modifier change.
    std::uint64_t heldModifiers() const { return heldModifiers_; }
    // Last pointer event that moved the pointer more than `pointerMoveThreshold`.
    double lastPointerMove() const { return lastPointerMove_; }
    plinth::Point lastPointerPosition() const { return lastPointerPosition_; }
    // The engine sets it after warping the pointer, so the warp is not taken for the user.
    void setLastPointerPosition(plinth::Point point) { lastPointerPosition_ = point; }

    // Called on the main thread with the pointer position (global top-left space) at every
    // left or right button press.
    std::function<void(plinth::Point)> onClick;

    // The pointer position now, in the global top-left space.
    static plinth::Point pointerLocation();

private:
    void handleKey(std::uint64_t flags, Key key);
    void notePointerActivity();
    void handleClick();
    // Installs one monitor whose handler posts `update` (run only while the guards live and
    // have not been stopped since).
    void install(std::uint64_t mask, std::function<void(InputGuards&, const InputEvent&)> update);

    double lastTextKeystroke_ = Clock::distantPast;
    double lastCommandChord_ = Clock::distantPast;
    double lastCopy_ = Clock::distantPast;
    std::uint64_t heldModifiers_ = 0;
    double lastPointerMove_ = Clock::distantPast;
    plinth::Point lastPointerPosition_;
    std::vector<MonitorToken> monitors_;
    // Counts starts and stops: an event posted before either belongs to the monitors removed.
    std::uint64_t generation_ = 0;

    // The service the monitors were installed with, so they are removed from it even when
    // another platform has been installed since.
    std::shared_ptr<InputMonitor> monitorService_;
    std::uint64_t copyModifier_ = 0;
    // Handlers hold this weakly: alive exactly as long as the guards are.
    std::shared_ptr<InputGuards*> self_;
};

} // namespace orvane
