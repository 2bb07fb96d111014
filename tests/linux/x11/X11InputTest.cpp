#include <gtest/gtest.h>

#include "linux/x11/X11Clients.hpp"

#include "backends/linux/freedesktop/EvdevKeys.hpp"
#include "backends/linux/x11/X11Connection.hpp"
#include "backends/linux/x11/X11InputMonitor.hpp"
#include "backends/linux/x11/X11Keys.hpp"
#include "backends/linux/x11/X11WindowServer.hpp"
#include "backends/linux/x11/X11Workspace.hpp"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace orvane::linuxbackend::test {
namespace {

// Collects the events a monitor hands over (on the monitor's thread).
struct Recorder {
    std::mutex mutex;
    std::vector<InputEvent> events;

    std::function<void(const InputEvent&)> handler() {
        return [this](const InputEvent& event) {
            std::lock_guard lock(mutex);
            events.push_back(event);
        };
    }
    std::vector<InputEvent> snapshot() {
        std::lock_guard lock(mutex);
        return events;
    }
    std::vector<InputEvent> ofType(int type) {
        std::vector<InputEvent> result;
        for (const auto& event : snapshot()) {
            if (event.type == type) {
                result.push_back(event);
            }
        }
        return result;
    }
};

// Pointer input as a mouse makes it, on a connection of its own.
class XTestPointer {
public:
    XTestPointer() : display_(XOpenDisplay(nullptr)) {}
    ~XTestPointer() {
        if (display_) {
            XCloseDisplay(display_);
        }
    }
    void moveTo(int x, int y) {
        XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
        XSync(display_, False);
    }
    void button(unsigned int number, bool down) {
        XTestFakeButtonEvent(display_, number, down, CurrentTime);
        XSync(display_, False);
    }

private:
    ::Display* display_;
};

// Keys held down as a keyboard holds them, on a connection of its own. Whatever is still down
// when the object goes away is released: a key left down would repeat into the next test.
class XTestKeyboard {
public:
    XTestKeyboard() : display_(XOpenDisplay(nullptr)) {}
    ~XTestKeyboard() {
        if (display_) {
            for (auto it = down_.rbegin(); it != down_.rend(); ++it) {
                XTestFakeKeyEvent(display_, *it, False, CurrentTime);
            }
            XCloseDisplay(display_);
        }
    }
    void press(unsigned int keycode) {
        XTestFakeKeyEvent(display_, keycode, True, CurrentTime);
        XSync(display_, False);
        down_.push_back(keycode);
    }
    void release(unsigned int keycode) {
        XTestFakeKeyEvent(display_, keycode, False, CurrentTime);
        XSync(display_, False);
        std::erase(down_, keycode);
    }

private:
    ::Display* display_;
    std::vector<unsigned int> down_;
};

// X keycodes (evdev + 8) of the keys the tests hold.
constexpr unsigned int backspaceKey = 22;
constexpr unsigned int cKey = 54;
constexpr unsigned int leftShiftKey = 50;

// The X keycodes of the keys that are down.
std::vector<unsigned int> heldKeys(::Display* display) {
    char keys[32] = {};
    XQueryKeymap(display, keys);
    std::vector<unsigned int> held;
    for (unsigned int keycode = 0; keycode < 256; ++keycode) {
        if (keys[keycode / 8] & (1 << (keycode % 8))) {
            held.push_back(keycode);
        }
    }
    return held;
}

bool nothingHeld(::Display* display) {
    return heldKeys(display).empty();
}

constexpr std::uint64_t everything =
    eventMask(InputEventType::keyDown) | eventMask(InputEventType::flagsChanged) |
    eventMask(InputEventType::mouseMoved) | eventMask(InputEventType::leftMouseDragged) |
    eventMask(InputEventType::rightMouseDragged) | eventMask(InputEventType::scrollWheel) |
    eventMask(InputEventType::leftMouseDown) | eventMask(InputEventType::rightMouseDown);

class X11_input : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TEST_DESKTOP();
        desktop = std::make_unique<TestDesktop>();
        xterm = startXterm(*desktop, "orvane-typing", 1400, 100);
        ASSERT_NE(xterm.window, 0u);
        ASSERT_TRUE(desktop->desktop().workspace()->activateWindow(xterm.window));
        token = desktop->desktop().inputMonitor()->addGlobalMonitor(everything, recorder.handler());
        ASSERT_TRUE(token);
    }
    void TearDown() override {
        if (desktop && token) {
            desktop->desktop().inputMonitor()->removeMonitor(*token);
        }
    }

    bool waitFor(const std::function<bool()>& condition) {
        return desktop->waiter().until(condition, 5s, 5ms);
    }

    std::unique_ptr<TestDesktop> desktop;
    RunningClient xterm;
    Recorder recorder;
    std::optional<MonitorToken> token;
};

TEST_F(X11_input, reportsKeysTypedIntoAnotherClientWithTheirModifiers) {
    ASSERT_TRUE(run({"xdotool", "key", "--window", std::to_string(xterm.window), "a"}));
    ASSERT_TRUE(run({"xdotool", "key", "ctrl+c", "shift+x", "super+g", "alt+Left"}));
    ASSERT_TRUE(waitFor([&] { return recorder.ofType(InputEventType::keyDown).size() >= 5; }));
    auto keys = recorder.ofType(InputEventType::keyDown);
    ASSERT_EQ(keys.size(), 5u);
    EXPECT_EQ(keys[0].key, Key::a);
    EXPECT_EQ(keys[0].modifierFlags, 0u);
    EXPECT_EQ(keys[1].key, Key::c);
    EXPECT_EQ(keys[1].modifierFlags, ModifierFlag::control);
    EXPECT_EQ(keys[2].key, Key::x);
    EXPECT_EQ(keys[2].modifierFlags, ModifierFlag::shift);
    EXPECT_EQ(keys[3].key, Key::g);
    EXPECT_EQ(keys[3].modifierFlags, ModifierFlag::command);
    EXPECT_EQ(keys[4].key, Key::leftArrow);
    EXPECT_EQ(keys[4].modifierFlags, ModifierFlag::option);

    // Each modifier went down and up: one flags change each way, no key-down of its own.
    auto flags = recorder.ofType(InputEventType::flagsChanged);
    ASSERT_EQ(flags.size(), 8u);
    EXPECT_EQ(flags[0].modifierFlags, ModifierFlag::control);
    EXPECT_EQ(flags[1].modifierFlags, 0u);
    EXPECT_EQ(flags[6].modifierFlags, ModifierFlag::option);
    EXPECT_EQ(flags[7].modifierFlags, 0u);
}

TEST_F(X11_input, reportsClicksDragsMovesAndScrolls) {
    // xdotool's mousemove warps, and warps are no input: move through XTest like a mouse.
    XTestPointer mouse;
    mouse.moveTo(1500, 300);
    ASSERT_TRUE(waitFor([&] { return !recorder.ofType(InputEventType::mouseMoved).empty(); }));
    ASSERT_TRUE(run({"xdotool", "click", "1", "click", "3", "click", "4", "click", "5"}));
    mouse.button(1, true);
    mouse.moveTo(1550, 350);
    mouse.button(1, false);
    ASSERT_TRUE(
        waitFor([&] { return !recorder.ofType(InputEventType::leftMouseDragged).empty(); }));
    EXPECT_EQ(recorder.ofType(InputEventType::leftMouseDown).size(), 2u);
    EXPECT_EQ(recorder.ofType(InputEventType::rightMouseDown).size(), 1u);
    EXPECT_EQ(recorder.ofType(InputEventType::scrollWheel).size(), 2u);
    EXPECT_TRUE(recorder.ofType(InputEventType::rightMouseDragged).empty());
}

TEST_F(X11_input, deliversOnlyTheMaskedTypesAndNothingAfterRemoval) {
    Recorder clicks;
    auto& monitor = *desktop->desktop().inputMonitor();
    auto clickToken =
        monitor.addGlobalMonitor(eventMask(InputEventType::leftMouseDown), clicks.handler());
    ASSERT_TRUE(clickToken);
    ASSERT_TRUE(run({"xdotool", "click", "1", "key", "b"}));
    ASSERT_TRUE(waitFor([&] { return !recorder.ofType(InputEventType::keyDown).empty(); }));
    ASSERT_EQ(clicks.snapshot().size(), 1u);
    EXPECT_EQ(clicks.snapshot()[0].type, InputEventType::leftMouseDown);

    monitor.removeMonitor(*clickToken);
    monitor.removeMonitor(*clickToken); // unknown tokens are ignored
    ASSERT_TRUE(run({"xdotool", "click", "1", "key", "b"}));
    ASSERT_TRUE(waitFor([&] { return recorder.ofType(InputEventType::keyDown).size() >= 2; }));
    EXPECT_EQ(clicks.snapshot().size(), 1u);
}

TEST_F(X11_input, postsKeysWithTheirModifiersWithoutHearingThemAndLeavesNoneHeld) {
    auto& server = *desktop->desktop().windowServer();
    ::Display* display = desktop->connection().display();
    const std::uint64_t flags = ModifierFlag::shift | ModifierFlag::option;
    const auto arrowKey = *X11Keys::xKeycodeFromKey(Key::rightArrow);
    ASSERT_TRUE(server.postKeyEvent(Key::rightArrow, flags, true));
    ASSERT_TRUE(waitFor([&] {
        auto held = heldKeys(display);
        return held.size() == 3 && std::ranges::count(held, arrowKey) == 1;
    }));
    ASSERT_TRUE(server.postKeyEvent(Key::rightArrow, flags, false));
    ASSERT_TRUE(waitFor([&] { return nothingHeld(display); }));
    EXPECT_FALSE(server.postKeyEvent(Key::unknown, 0, true)); // no such key

    // The same key from anyone else right after is the user's, and so is its modifier.
    XTestKeyboard keyboard;
    keyboard.press(leftShiftKey);
    keyboard.press(arrowKey);
    keyboard.release(arrowKey);
    keyboard.release(leftShiftKey);
    ASSERT_TRUE(waitFor([&] {
        auto changes = recorder.ofType(InputEventType::flagsChanged);
        return changes.size() >= 2 && changes.back().modifierFlags == 0;
    }));
    auto keys = recorder.ofType(InputEventType::keyDown);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].key, Key::rightArrow);
    EXPECT_EQ(keys[0].modifierFlags, ModifierFlag::shift);
    auto changes = recorder.ofType(InputEventType::flagsChanged);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].modifierFlags, ModifierFlag::shift);
}

// Activation requests are dated by the user's latest key or button: its X server time, read
// between two server times; the keys this process posts are not the user's.
TEST_F(X11_input, remembersTheServerTimeOfTheUsersLatestKeyOrButton) {
    auto& monitor = *desktop->desktop().inputMonitor();
    auto& connection = desktop->connection();
    EXPECT_FALSE(monitor.lastUserInputTime());

    const Time before = connection.serverTime();
    XTestKeyboard keyboard;
    keyboard.press(cKey);
    keyboard.release(cKey);
    ASSERT_TRUE(waitFor([&] { return !recorder.ofType(InputEventType::keyDown).empty(); }));
    const Time after = connection.serverTime();
    ASSERT_TRUE(monitor.lastUserInputTime());
    const Time typed = *monitor.lastUserInputTime();
    EXPECT_GE(typed, before);
    EXPECT_LE(typed, after);

    ASSERT_TRUE(desktop->desktop().windowServer()->postKeyEvent(Key::c, 0, true));
    ASSERT_TRUE(desktop->desktop().windowServer()->postKeyEvent(Key::c, 0, false));
    XTestPointer pointer;
    pointer.button(3, true);
    pointer.button(3, false);
    ASSERT_TRUE(waitFor([&] { return !recorder.ofType(InputEventType::rightMouseDown).empty(); }));
    const Time clicked = *monitor.lastUserInputTime();
    EXPECT_GE(clicked, typed);
    EXPECT_LE(clicked, connection.serverTime());
}

TEST_F(X11_input, hearsNothingMeantForAWindowOfItsOwnProcess) {
    // A window of this process, in front, with the keyboard focus. Unmanaged, as the gaze dot
    // is, so that no window manager moves the focus when it is clicked.
    ::Display* display = desktop->connection().display();
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    const Window own =
        XCreateWindow(display, DefaultRootWindow(display), 100, 100, 400, 300, 0, CopyFromParent,
                      InputOutput, CopyFromParent, CWOverrideRedirect, &attributes);
    XMapRaised(display, own);
    XSync(display, False);
    XSetInputFocus(display, own, RevertToPointerRoot, CurrentTime);
    XSync(display, False);

    // The monitor asks where the focus and the pointer are as it handles each event: each
    // phase ends with an event that is heard, which has been handled once it is recorded.
    XTestPointer mouse;
    XTestKeyboard keyboard;
    mouse.moveTo(1500, 300);
    ASSERT_TRUE(waitFor([&] { return !recorder.ofType(InputEventType::mouseMoved).empty(); }));
    keyboard.press(cKey);
    keyboard.release(cKey);
    keyboard.press(leftShiftKey);
    keyboard.release(leftShiftKey);
    mouse.moveTo(1510, 310);
    ASSERT_TRUE(waitFor([&] { return recorder.ofType(InputEventType::mouseMoved).size() >= 2; }));
    const auto moves = recorder.ofType(InputEventType::mouseMoved).size();

    // The pointer over our window, the keyboard with the xterm.
    XSetInputFocus(display, xterm.window, RevertToPointerRoot, CurrentTime);
    XSync(display, False);
    mouse.moveTo(200, 200);
    mouse.button(1, true);
    mouse.button(1, false);
    mouse.button(4, true);
    mouse.button(4, false);
    keyboard.press(backspaceKey);
    keyboard.release(backspaceKey);
    ASSERT_TRUE(waitFor([&] { return !recorder.ofType(InputEventType::keyDown).empty(); }));
    auto keys = recorder.ofType(InputEventType::keyDown);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].key, Key::backspace);
    EXPECT_TRUE(recorder.ofType(InputEventType::flagsChanged).empty());
    EXPECT_EQ(recorder.ofType(InputEventType::mouseMoved).size(), moves);
    EXPECT_TRUE(recorder.ofType(InputEventType::leftMouseDown).empty());
    EXPECT_TRUE(recorder.ofType(InputEventType::scrollWheel).empty());

    // Back over the xterm, a click is heard again.
    mouse.moveTo(1500, 300);
    mouse.button(3, true);
    mouse.button(3, false);
    EXPECT_TRUE(waitFor([&] { return !recorder.ofType(InputEventType::rightMouseDown).empty(); }));
    XDestroyWindow(display, own);
    XSync(display, False);
}

TEST_F(X11_input, countsEveryRepeatOfAHeldKeyAsAKeystroke) {
    // The server repeats a held key after 660 ms, every 40 ms; raw events show none of it.
    XTestKeyboard keyboard;
    auto countOf = [&](Key wanted) {
        auto keys = recorder.ofType(InputEventType::keyDown);
        return std::count_if(keys.begin(), keys.end(),
                             [&](const InputEvent& event) { return event.key == wanted; });
    };
    keyboard.press(backspaceKey);
    ASSERT_TRUE(waitFor([&] { return countOf(Key::backspace) >= 4; }));
    keyboard.release(backspaceKey);

    // Repeats follow the modifier state, and they stop with the release: held after Backspace,
    // C repeats alone.
    keyboard.press(leftShiftKey);
    keyboard.press(cKey);
    ASSERT_TRUE(waitFor([&] { return countOf(Key::c) >= 3; }));
    keyboard.release(cKey);
    keyboard.release(leftShiftKey);

    auto keys = recorder.ofType(InputEventType::keyDown);
    std::vector<std::size_t> cIndices;
    std::size_t lastBackspace = 0;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i].key == Key::c) {
            cIndices.push_back(i);
            EXPECT_EQ(keys[i].modifierFlags, ModifierFlag::shift) << i;
        } else {
            ASSERT_EQ(keys[i].key, Key::backspace) << i;
            EXPECT_EQ(keys[i].modifierFlags, 0u) << i;
            lastBackspace = i;
        }
    }
    // The first C may overtake Backspace's last repeats (they come on different connections);
    // C's own repeats never do.
    ASSERT_GE(cIndices.size(), 3u);
    EXPECT_LT(lastBackspace, cIndices[1]);
}

TEST_F(X11_input, releasesEveryKeyOfAChordThatFailsOrEndsBadly) {
    auto& server = *desktop->desktop().windowServer();
    ::Display* display = desktop->connection().display();
    const std::uint64_t flags = ModifierFlag::control | ModifierFlag::shift;

    // The server refuses keycodes below 8 after both modifiers went down: they come up again,
    // without a key-up from the caller.
    EXPECT_FALSE(server.postXKeyEvent(3, flags, true));
    EXPECT_TRUE(waitFor([&] { return nothingHeld(display); }));

    // A key-up whose own key is unknown still releases the modifiers its key-down pressed.
    ASSERT_TRUE(server.postKeyEvent(Key::rightArrow, flags, true));
    ASSERT_TRUE(waitFor([&] { return heldKeys(display).size() == 3; }));
    EXPECT_FALSE(server.postKeyEvent(Key::unknown, flags, false));
    const auto arrowKey = *X11Keys::xKeycodeFromKey(Key::rightArrow);
    EXPECT_TRUE(waitFor([&] { return heldKeys(display) == std::vector<unsigned int>{arrowKey}; }));
    ASSERT_TRUE(server.postKeyEvent(Key::rightArrow, 0, false));
    EXPECT_TRUE(waitFor([&] { return nothingHeld(display); }));
}

TEST(X11_input_keys, mapsPositionsBothWays) {
    // evdev KEY_A (30) is X keycode 38, whatever the layout.
    EXPECT_EQ(X11Keys::keyFromX(38), Key::a);
    EXPECT_EQ(X11Keys::xKeycodeFromKey(Key::c), 54u);
    for (unsigned int keycode = 9; keycode < 256; ++keycode) {
        if (auto key = X11Keys::keyFromX(keycode)) {
            EXPECT_EQ(X11Keys::xKeycodeFromKey(*key), keycode) << keycode;
        }
    }
    EXPECT_EQ(X11Keys::systemFlagsFromX(ShiftMask | ControlMask | Mod1Mask | Mod4Mask | LockMask),
              ModifierFlag::shift | ModifierFlag::control | ModifierFlag::option |
                  ModifierFlag::command | ModifierFlag::capsLock);
    EXPECT_EQ(X11Keys::systemFlagsFromX(Mod2Mask), 0u); // Num Lock is no modifier here
}

TEST(X11_input_keys, releasesWhatWentDownLastFirstWhenAPressFails) {
    const std::vector<unsigned int> chord{37, 50, 64, 38};
    for (std::size_t failing = 0; failing <= chord.size(); ++failing) {
        std::vector<unsigned int> pressed, released;
        const bool down = EvdevKeys::pressAll(
            chord,
            [&](unsigned int key) {
                if (pressed.size() == failing) {
                    return false;
                }
                pressed.push_back(key);
                return true;
            },
            [&](unsigned int key) { released.push_back(key); });
        EXPECT_EQ(down, failing == chord.size());
        EXPECT_EQ(pressed, std::vector<unsigned int>(chord.begin(), chord.begin() + failing));
        if (down) {
            EXPECT_TRUE(released.empty());
        } else {
            EXPECT_EQ(released, std::vector<unsigned int>(pressed.rbegin(), pressed.rend()));
        }
    }
}

} // namespace
} // namespace orvane::linuxbackend::test
