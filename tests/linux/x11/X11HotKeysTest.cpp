#include <gtest/gtest.h>

#include "linux/x11/X11TestSupport.hpp"

#include "backends/linux/x11/X11HotKeys.hpp"
#include "backends/linux/x11/X11InputMonitor.hpp"
#include "backends/linux/x11/X11Keys.hpp"
#include "orvane/platform/WindowServer.hpp"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <mutex>
#include <thread>
#include <vector>

namespace orvane::linuxbackend::test {
namespace {

constexpr std::uint64_t chord = ModifierFlag::shift | ModifierFlag::command;
constexpr unsigned int numLockKey = 77;  // evdev NUMLOCK + 8
constexpr unsigned int capsLockKey = 66; // evdev CAPSLOCK + 8

// Another X client: types through XTest, holds grabs of its own, and reads the lock state.
// Locks it switched on are switched off again when it goes, so no test inherits them.
class OtherClient {
public:
    OtherClient() : display_(XOpenDisplay(nullptr)) {}
    ~OtherClient() {
        for (unsigned int key : locksOn_) {
            tap(key);
        }
        XCloseDisplay(display_);
    }
    ::Display* display() { return display_; }

    void key(unsigned int keycode, bool down) {
        XTestFakeKeyEvent(display_, keycode, down, CurrentTime);
        XSync(display_, False);
    }
    void tap(unsigned int keycode) {
        key(keycode, true);
        key(keycode, false);
    }
    // Shift+Super+G, held down until `releaseChord`.
    void holdChord() {
        for (unsigned int modifier : X11Keys::modifierKeycodes(chord)) {
            key(modifier, true);
        }
        key(*X11Keys::xKeycodeFromKey(Key::g), true);
    }
    void releaseChord() {
        key(*X11Keys::xKeycodeFromKey(Key::g), false);
        const auto modifiers = X11Keys::modifierKeycodes(chord);
        for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) {
            key(*it, false);
        }
    }
    void pressChord() {
        holdChord();
        releaseChord();
    }
    void switchLockOn(unsigned int keycode) {
        tap(keycode);
        locksOn_.push_back(keycode);
    }
    unsigned int lockedModifiers() {
        XkbStateRec state{};
        XkbGetState(display_, XkbUseCoreKbd, &state);
        return state.locked_mods;
    }
    // True when this client could grab `state`+G on the root (released again at once).
    bool canGrab(unsigned int state) {
        const int g = static_cast<int>(*X11Keys::xKeycodeFromKey(Key::g));
        errorCode_ = 0;
        auto previous = XSetErrorHandler(&OtherClient::onError);
        XGrabKey(display_, g, state, DefaultRootWindow(display_), False, GrabModeAsync,
                 GrabModeAsync);
        XSync(display_, False);
        const bool granted = errorCode_ == 0;
        if (granted) {
            XUngrabKey(display_, g, state, DefaultRootWindow(display_));
            XSync(display_, False);
        }
        XSetErrorHandler(previous);
        return granted;
    }

private:
    static int onError(::Display*, XErrorEvent* event) {
        errorCode_ = event->error_code;
        return 0;
    }
    static inline int errorCode_ = 0;
    ::Display* display_;
    std::vector<unsigned int> locksOn_;
};

class X11_hotkeys : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TEST_DESKTOP();
        desktop = std::make_unique<TestDesktop>();
        hotKeys = desktop->desktop().hotKeys();
        ASSERT_TRUE(hotKeys);
    }

    // Runs the main queue until `count` presses have been handled; the presses come from the
    // hot keys' own thread.
    bool handled(int count) {
        return desktop->waiter().until(
            [&] {
                desktop->mainQueue().runPending();
                return presses >= count;
            },
            5s, 5ms);
    }

    std::unique_ptr<TestDesktop> desktop;
    std::shared_ptr<X11HotKeys> hotKeys;
    int presses = 0;
};

TEST_F(X11_hotkeys, theChordCallsItsHandlerOnTheMainQueueWhateverTheLocks) {
    const auto mainThread = std::this_thread::get_id();
    bool onMainThread = true;
    auto token = hotKeys->registerHotKey(Key::g, chord, [&] {
        onMainThread = onMainThread && std::this_thread::get_id() == mainThread;
        ++presses;
    });
    ASSERT_TRUE(token) << hotKeys->lastProblem();
    EXPECT_EQ(hotKeys->describe(Key::g, chord), "Shift+Super+G");

    OtherClient keyboard;
    keyboard.pressChord();
    ASSERT_TRUE(handled(1));

    keyboard.switchLockOn(numLockKey);
    ASSERT_NE(keyboard.lockedModifiers(), 0u) << "Num Lock did not lock";
    keyboard.pressChord();
    ASSERT_TRUE(handled(2));
    keyboard.switchLockOn(capsLockKey);
    keyboard.pressChord();
    ASSERT_TRUE(handled(3));
    EXPECT_TRUE(onMainThread);
}

TEST_F(X11_hotkeys, aHeldChordFiresOnceAndOtherChordsNever) {
    auto token = hotKeys->registerHotKey(Key::g, chord, [&] { ++presses; });
    ASSERT_TRUE(token) << hotKeys->lastProblem();
    // The input monitor sees the server's repeats of a held key (after 660 ms, every 40 ms).
    std::mutex mutex;
    int gDown = 0;
    auto monitor = desktop->desktop().inputMonitor()->addGlobalMonitor(
        eventMask(InputEventType::keyDown), [&](const InputEvent& event) {
            std::lock_guard lock(mutex);
            gDown += event.key == Key::g ? 1 : 0;
        });
    ASSERT_TRUE(monitor);
    auto gDownCount = [&] {
        std::lock_guard lock(mutex);
        return gDown;
    };

    OtherClient keyboard;
    const unsigned int g = *X11Keys::xKeycodeFromKey(Key::g);
    const unsigned int shift = X11Keys::modifierKeycodes(ModifierFlag::shift).front();
    // Shift+G alone is typing, not the chord.
    keyboard.key(shift, true);
    keyboard.tap(g);
    keyboard.key(shift, false);
    keyboard.holdChord();
    EXPECT_TRUE(desktop->waiter().until([&] { return gDownCount() >= 4; }, 5s, 5ms));
    keyboard.releaseChord();
    keyboard.pressChord();
    ASSERT_TRUE(handled(2));
    // Everything pressed before the last chord has been handled by now, in order.
    desktop->mainQueue().runPending();
    EXPECT_EQ(presses, 2);
    desktop->desktop().inputMonitor()->removeMonitor(*monitor);
}

TEST_F(X11_hotkeys, unregisteringReleasesEveryVariantOfTheChord) {
    auto token = hotKeys->registerHotKey(Key::g, chord, [&] { ++presses; });
    ASSERT_TRUE(token);
    OtherClient other;
    EXPECT_FALSE(other.canGrab(ShiftMask | Mod4Mask | LockMask));
    hotKeys->unregisterHotKey(*token);
    for (unsigned int locks :
         {0u, unsigned(LockMask), unsigned(Mod2Mask), unsigned(LockMask | Mod2Mask)}) {
        EXPECT_TRUE(other.canGrab(ShiftMask | Mod4Mask | locks)) << "locks " << locks;
    }
}

TEST_F(X11_hotkeys, aChordAnotherClientHoldsIsReportedAndLeavesNothingGrabbed) {
    OtherClient holder;
    const int g = static_cast<int>(*X11Keys::xKeycodeFromKey(Key::g));
    // Only the Num Lock variant is taken: half a chord is no chord either.
    XGrabKey(holder.display(), g, ShiftMask | Mod4Mask | Mod2Mask,
             DefaultRootWindow(holder.display()), False, GrabModeAsync, GrabModeAsync);
    XSync(holder.display(), False);

    EXPECT_FALSE(hotKeys->registerHotKey(Key::g, chord, [&] { ++presses; }));
    EXPECT_EQ(hotKeys->lastProblem(), "hot key Shift+Super+G is taken by another application");
    OtherClient third;
    EXPECT_TRUE(third.canGrab(ShiftMask | Mod4Mask));

    // Once the other client lets go, the chord is ours.
    XUngrabKey(holder.display(), g, ShiftMask | Mod4Mask | Mod2Mask,
               DefaultRootWindow(holder.display()));
    XSync(holder.display(), False);
    EXPECT_TRUE(hotKeys->registerHotKey(Key::g, chord, [&] { ++presses; }));
    EXPECT_TRUE(hotKeys->lastProblem().empty());
}

} // namespace
} // namespace orvane::linuxbackend::test
