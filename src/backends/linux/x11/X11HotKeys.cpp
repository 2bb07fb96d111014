// Ahead of Xlib, whose Status macro would rename the bridge state's enum.
#include "orvane/platform/Platform.hpp"

#include "backends/linux/x11/X11HotKeys.hpp"

#include "backends/linux/x11/X11Connection.hpp"
#include "backends/linux/x11/X11Keys.hpp"
#include "backends/posix/ChordText.hpp"
#include "orvane/platform/WindowServer.hpp"

#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include <utility>

namespace orvane::linuxbackend {
namespace {

// Caps Lock and Num Lock change nothing about a chord, but a grab only matches the exact state.
constexpr unsigned int chordModifiers = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;

// The modifier bit Num Lock sets on this server (Mod2 almost everywhere).
unsigned int findNumLockMask(::Display* display) {
    unsigned int mask = 0;
    const ::KeyCode numLock = XKeysymToKeycode(display, XK_Num_Lock);
    if (XModifierKeymap* map = XGetModifierMapping(display)) {
        for (int modifier = 0; modifier < 8 && numLock != 0; ++modifier) {
            for (int i = 0; i < map->max_keypermod; ++i) {
                if (map->modifiermap[modifier * map->max_keypermod + i] == numLock) {
                    mask = 1u << modifier;
                }
            }
        }
        XFreeModifiermap(map);
    }
    return mask != 0 ? mask : Mod2Mask;
}

} // namespace

X11HotKeys::X11HotKeys(std::shared_ptr<MainQueue> mainQueue) : mainQueue_(std::move(mainQueue)) {}

X11HotKeys::~X11HotKeys() {
    // Closing the connection ends its grabs.
    events_.stop();
    connection_.reset();
}

std::string X11HotKeys::lastProblem() const {
    std::lock_guard lock(problemMutex_);
    return lastProblem_;
}

void X11HotKeys::fail(std::string problem) {
    if (auto sink = currentLogSink()) {
        sink->write(LogLevel::error, kApplicationIdentifier, "core", problem);
    }
    std::lock_guard lock(problemMutex_);
    lastProblem_ = std::move(problem);
}

bool X11HotKeys::connect() {
    if (connection_) {
        return connection_->isAlive();
    }
    if (connectFailed_) {
        return false;
    }
    connectFailed_ = true;
    std::string error;
    connection_ = X11Connection::open(nullptr, &error);
    if (!connection_) {
        fail("hot keys: " + error);
        return false;
    }
    ::Display* display = connection_->display();
    numLockMask_ = findNumLockMask(display);
    // A held chord repeats as presses alone, without the release in between, so a repeat can
    // be told from a new press.
    Bool supported = False;
    XkbSetDetectableAutoRepeat(display, True, &supported);
    XSync(display, False);
    if (!events_.start(*connection_, [this](XEvent& event) { handle(event); })) {
        connection_.reset();
        fail("hot keys: the event thread could not be started");
        return false;
    }
    connectFailed_ = false;
    return true;
}

std::optional<HotKeyToken> X11HotKeys::registerHotKey(Key key, std::uint64_t modifiers,
                                                      std::function<void()> handler) {
    const std::string chord = describe(key, modifiers);
    const auto keycode = X11Keys::xKeycodeFromKey(key);
    if (!handler || !keycode) {
        fail("hot key " + chord + ": no such key");
        return std::nullopt;
    }
    if (!connect()) {
        return std::nullopt;
    }
    const unsigned int state = X11Keys::xStateFromSystem(modifiers) & chordModifiers;
    ::Display* display = connection_->display();
    {
        std::lock_guard lock(grabs_->mutex);
        for (const auto& [token, grab] : grabs_->byToken) {
            if (grab.keycode == *keycode && grab.state == state) {
                fail("hot key " + chord + " is registered already");
                return std::nullopt;
            }
        }
    }
    // The event thread waits while the display is ours, so the error comes back here.
    XLockDisplay(display);
    int error = 0;
    {
        X11Connection::ErrorTrap trap(*connection_);
        grabOrUngrab(*keycode, state, true);
        error = trap.sync();
        if (error != 0) {
            // Whatever variants we did get go too: half a chord is no chord.
            grabOrUngrab(*keycode, state, false);
            trap.sync();
        }
    }
    // A reply read while the display was ours may have brought events into the queue behind
    // the thread's back; an event of our own wakes it to look.
    XEvent nudge{};
    nudge.xclient.type = ClientMessage;
    nudge.xclient.window = connection_->privateWindow();
    nudge.xclient.format = 32;
    XSendEvent(display, connection_->privateWindow(), False, NoEventMask, &nudge);
    XFlush(display);
    XUnlockDisplay(display);

    if (error != 0) {
        fail(error == BadAccess ? "hot key " + chord + " is taken by another application"
                                : "hot key " + chord + " could not be grabbed (X error " +
                                      std::to_string(error) + ")");
        return std::nullopt;
    }
    std::lock_guard lock(grabs_->mutex);
    const HotKeyToken token = nextToken_++;
    grabs_->byToken.emplace(token, Grab{*keycode, state, std::move(handler)});
    {
        std::lock_guard problemLock(problemMutex_);
        lastProblem_.clear();
    }
    return token;
}

void X11HotKeys::unregisterHotKey(HotKeyToken token) {
    Grab removed;
    {
        std::lock_guard lock(grabs_->mutex);
        auto it = grabs_->byToken.find(token);
        if (it == grabs_->byToken.end()) {
            return;
        }
        removed = std::move(it->second);
        grabs_->byToken.erase(it);
    }
    if (!connection_ || !connection_->isAlive()) {
        return;
    }
    ::Display* display = connection_->display();
    XLockDisplay(display);
    grabOrUngrab(removed.keycode, removed.state, false);
    // Free for others once this returns.
    XSync(display, False);
    XUnlockDisplay(display);
}

void X11HotKeys::grabOrUngrab(unsigned int keycode, unsigned int state, bool grab) {
    ::Display* display = connection_->display();
    const unsigned int variants[] = {0, LockMask, numLockMask_, LockMask | numLockMask_};
    for (unsigned int variant : variants) {
        if (grab) {
            XGrabKey(display, static_cast<int>(keycode), state | variant, connection_->root(),
                     False, GrabModeAsync, GrabModeAsync);
        } else {
            XUngrabKey(display, static_cast<int>(keycode), state | variant, connection_->root());
        }
    }
}

std::shared_ptr<MainQueue> X11HotKeys::queue() const {
    if (mainQueue_) {
        return mainQueue_;
    }
    return hasPlatform() ? platform().mainQueue : nullptr;
}

void X11HotKeys::handle(const XEvent& event) {
    if (event.type == KeyRelease) {
        keysDown_.erase(event.xkey.keycode);
        return;
    }
    if (event.type != KeyPress || (!keysDown_.insert(event.xkey.keycode).second)) {
        return;
    }
    const unsigned int state = event.xkey.state & chordModifiers;
    std::optional<HotKeyToken> pressed;
    {
        std::lock_guard lock(grabs_->mutex);
        for (const auto& [token, grab] : grabs_->byToken) {
            if (grab.keycode == event.xkey.keycode && grab.state == state) {
                pressed = token;
                break;
            }
        }
    }
    auto mainQueue = queue();
    if (!pressed || !mainQueue) {
        return;
    }
    std::weak_ptr<Grabs> weak = grabs_;
    const HotKeyToken token = *pressed;
    mainQueue->post([weak, token] {
        auto grabs = weak.lock();
        if (!grabs) {
            return;
        }
        std::function<void()> handler;
        {
            std::lock_guard lock(grabs->mutex);
            auto it = grabs->byToken.find(token);
            if (it == grabs->byToken.end()) {
                return; // unregistered on the way
            }
            handler = it->second.handler;
        }
        handler();
    });
}

std::string X11HotKeys::describe(Key key, std::uint64_t modifiers) const {
    return posix::chordText(key, modifiers);
}

} // namespace orvane::linuxbackend
