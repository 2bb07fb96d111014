#pragma once

#include "orvane/platform/Subscription.hpp"
#include "plinth/Geometry.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane::linuxbackend {

// One monitor as the compositor lists it, in stage coordinates (the compositor's global
// top-left space).
struct CompositorMonitor {
    plinth::Rect stageFrame;
    std::string connector;
    std::string name;
    bool primary = false;
};

// One window as the compositor lists it, front to back; rectangles in stage coordinates.
struct CompositorWindow {
    std::uint64_t id = 0;
    std::uint32_t pid = 0; // 0: unknown
    std::string applicationId;
    std::string title;
    std::string type; // "normal", "dialog", "popup_menu"...
    plinth::Rect frame;
    plinth::Rect buffer;
    int monitor = -1; // index into the monitors; -1: none
    bool above = false;
    bool minimized = false;
};

// One sample of the pointer and the keyboard's activity. `state` holds the modifier and
// button bits in Clutter's layout (shift 1<<0, control 1<<2, alt 1<<3, super 1<<26, buttons
// 1<<8 up), whatever the compositor's own are.
struct CompositorInput {
    int x = 0;
    int y = 0;
    std::uint32_t state = 0;
    std::uint32_t idleMilliseconds = 0;
    // When the sample arrived, in milliseconds of the monotonic clock: with the idle time it
    // dates the last input, as the samples come only when something changed.
    double receivedAtMilliseconds = 0;
};

// What is known of the compositor, as its link last heard.
struct CompositorSnapshot {
    bool present = false;            // the compositor's end is there
    std::optional<unsigned> version; // of its end, as it answered; nullopt before it did
    bool ready = false;              // present, of our version, and its state read
    std::string compositorVersion;   // "48.7", "5.27.5", "1.10"
    std::shared_ptr<const std::vector<CompositorMonitor>> monitors;
    std::shared_ptr<const std::vector<CompositorWindow>> windows;
    std::uint64_t focusWindow = 0;
    bool overviewActive = false; // an overview or window-picking effect is showing
    std::string shellModal;      // "menu", "dialog"...: the compositor's own UI holds the keys
    std::optional<CompositorInput> input; // the latest sample since the link became ready
};

struct CompositorEvent {
    enum class Kind {
        ready,    // the compositor's end came (back) and its state is read
        vanished, // it went
        refused,  // one of another version answered
        monitorsChanged,
        windowsChanged,
        focusChanged,
        shellModalChanged,
        overviewChanged,
        input,
        acceleratorActivated,
        indicatorActivated,
        indicatorOpening,
    };
    CompositorEvent(Kind what = Kind::ready) : kind(what) {} // NOLINT: implicit on purpose

    Kind kind;
    CompositorInput input;    // input
    std::uint32_t action = 0; // acceleratorActivated
    std::string id;           // indicatorActivated
};

// How Orvane reaches one Wayland compositor's windows, monitors and pointer: a GNOME Shell
// extension, a KWin script, the sway IPC socket. The services shared by those desktops
// (windows, activation, displays) are built on it; what only one desktop has stays in its own
// backend.
class CompositorLink {
public:
    virtual ~CompositorLink() = default;

    // Any thread; cheap (asked on every pose).
    virtual CompositorSnapshot snapshot() const = 0;

    // Main thread: `listener` is called on the main queue for every event, never after the
    // subscription ends.
    virtual Subscription listen(std::function<void(const CompositorEvent&)> listener) = 0;

    // Main thread. Focuses and raises the window exactly; the window focused once the
    // compositor has done it (asked of the compositor, not the cache), nullopt when it refused
    // or did not answer in time.
    virtual std::optional<std::uint64_t> activateWindow(std::uint64_t id) = 0;

    // Main thread: moves the pointer to a stage point; false when the compositor cannot.
    virtual bool warpPointer(int x, int y) = 0;

    // Main thread: the pointer's stage position asked now, for when no sample has come.
    virtual std::optional<plinth::Point> queryPointer() = 0;

    // Main thread: presses or releases the key of an X keysym on a virtual keyboard of the
    // compositor's; false where it has none for us.
    virtual bool postKey(std::uint32_t keysym, bool press) = 0;

    // Main thread: asks for input samples every `milliseconds` (0: none); false where the
    // compositor gives none.
    virtual bool watchInput(unsigned milliseconds) = 0;

    // Any thread: waits until the first look at the compositor is done, for command-line modes
    // that answer at once. False when that took longer.
    virtual bool waitUntilSettled(std::chrono::milliseconds timeout) const = 0;
};

} // namespace orvane::linuxbackend
