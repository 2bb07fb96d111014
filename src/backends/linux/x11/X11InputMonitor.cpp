#include "backends/linux/x11/X11InputMonitor.hpp"

#include "backends/linux/x11/X11Connection.hpp"
#include "backends/linux/x11/X11Keys.hpp"
#include "backends/linux/x11/X11PostedKeys.hpp"
#include "backends/linux/x11/X11WindowList.hpp"

#include <X11/XKBlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/record.h>

#include <string_view>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

// evdev codes of keys that only change the modifier state: they make flags-changed events, no
// key-down events.
bool isModifierKey(unsigned int xKeycode) {
    switch (xKeycode - 8) {
    case 29:  // LEFTCTRL
    case 42:  // LEFTSHIFT
    case 54:  // RIGHTSHIFT
    case 56:  // LEFTALT
    case 58:  // CAPSLOCK
    case 97:  // RIGHTCTRL
    case 100: // RIGHTALT
    case 125: // LEFTMETA
    case 126: // RIGHTMETA
        return true;
    default:
        return false;
    }
}

} // namespace

// Window lookups remembered before the list starts over; windows come and go all day.
constexpr std::size_t ownWindowsRemembered = 512;
// Child windows below the root searched for the one under the pointer.
constexpr int pointerDepth = 8;

X11InputMonitor::X11InputMonitor() : ownPid_(::getpid()) {}

X11InputMonitor::~X11InputMonitor() {
    events_.stop();
    stopRecording();
}

std::optional<MonitorToken>
X11InputMonitor::addGlobalMonitor(std::uint64_t mask,
                                  std::function<void(const InputEvent&)> handler) {
    if (!handler || !start()) {
        return std::nullopt;
    }
    std::lock_guard lock(monitorsMutex_);
    const MonitorToken token = nextToken_++;
    monitors_.emplace(token, Monitor{mask, std::move(handler)});
    return token;
}

void X11InputMonitor::removeMonitor(MonitorToken token) {
    std::lock_guard lock(monitorsMutex_);
    monitors_.erase(token);
}

bool X11InputMonitor::start() {
    std::lock_guard lock(startMutex_);
    if (events_.isRunning()) {
        return true;
    }
    if (startFailed_) {
        return false;
    }
    startFailed_ = true;
    connection_ = X11Connection::open(nullptr, nullptr);
    if (!connection_) {
        return false;
    }
    ::Display* display = connection_->display();
    int event = 0, error = 0;
    if (!XQueryExtension(display, "XInputExtension", &xiOpcode_, &event, &error)) {
        return false;
    }
    int major = 2, minor = 2;
    if (XIQueryVersion(display, &major, &minor) != Success || major < 2 ||
        (major == 2 && minor < 2)) {
        return false;
    }
    int xkbOpcode = 0, xkbError = 0, xkbMajor = XkbMajorVersion, xkbMinor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &xkbOpcode, &xkbEventBase_, &xkbError, &xkbMajor, &xkbMinor)) {
        return false;
    }

    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XISetMask(bits, XI_RawButtonPress);
    XISetMask(bits, XI_RawButtonRelease);
    XISetMask(bits, XI_RawMotion);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(display, connection_->root(), &mask, 1);
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, XkbModifierStateMask,
                          XkbModifierStateMask);

    int deviceCount = 0;
    if (XIDeviceInfo* devices = XIQueryDevice(display, XIAllDevices, &deviceCount)) {
        for (int i = 0; i < deviceCount; ++i) {
            const std::string_view name = devices[i].name ? devices[i].name : "";
            if (devices[i].use == XISlaveKeyboard && name.find("XTEST") != std::string_view::npos) {
                xtestDevices_.insert(devices[i].deviceid);
            }
        }
        XIFreeDeviceInfo(devices);
    }

    XkbStateRec state{};
    if (XkbGetState(display, XkbUseCoreKbd, &state) == Success) {
        flags_ = X11Keys::systemFlagsFromX(state.mods);
    }
    Window rootReturn = None, child = None;
    int windowX = 0, windowY = 0;
    unsigned int buttons = 0;
    XQueryPointer(display, connection_->root(), &rootReturn, &child, &lastX_, &lastY_, &windowX,
                  &windowY, &buttons);
    XSync(display, False);

    // Before the thread takes the connection over. Without RECORD the monitors still work; they
    // only miss the repeats.
    startRecording();
    if (!events_.start(*connection_, [this](XEvent& event) { handle(event); })) {
        stopRecording();
        return false;
    }
    startFailed_ = false;
    return true;
}

void X11InputMonitor::startRecording() {
    if (recordContext_) {
        return;
    }
    ::Display* control = connection_->display();
    int major = 0, minor = 0;
    if (!XRecordQueryVersion(control, &major, &minor)) {
        return;
    }
    auto data = X11Connection::open(DisplayString(control), nullptr);
    if (!data) {
        return;
    }
    XRecordRange* range = XRecordAllocRange();
    if (!range) {
        return;
    }
    range->device_events.first = KeyPress;
    range->device_events.last = KeyRelease;
    XRecordClientSpec clients = XRecordAllClients;
    X11Connection::ErrorTrap trap(*connection_);
    const XRecordContext context = XRecordCreateContext(control, 0, &clients, 1, &range, 1);
    XFree(range);
    if (trap.sync() != 0 || !context) {
        return;
    }
    // Called from inside Xlib on the recording thread, with the data connection locked.
    auto onRecorded = [](XPointer closure, XRecordInterceptData* recorded) {
        auto* self = reinterpret_cast<X11InputMonitor*>(closure);
        if (recorded->category == XRecordFromServer && recorded->data &&
            recorded->data_len * 4 >= sizeof(xEvent)) {
            const auto* event = reinterpret_cast<const xEvent*>(recorded->data);
            const int type = event->u.u.type & 0x7f;
            if (type == KeyPress || type == KeyRelease) {
                self->handleRecordedKey(type == KeyPress, event->u.u.detail,
                                        event->u.keyButtonPointer.state);
            }
        }
        XRecordFreeData(recorded);
    };
    if (!XRecordEnableContextAsync(data->display(), context, onRecorded,
                                   reinterpret_cast<XPointer>(this))) {
        XRecordFreeContext(control, context);
        XSync(control, False);
        return;
    }
    // No XSync here: the server answers nothing else on the data connection while recording.
    XFlush(data->display());
    recordContext_ = context;
    recordConnection_ = std::move(data);
    if (!recordEvents_.start(*recordConnection_, [](XEvent&) {})) {
        stopRecording();
    }
}

void X11InputMonitor::stopRecording() {
    if (!recordContext_) {
        return;
    }
    // Disabling first lets the server serve the data connection again, so that closing it (which
    // waits for a reply) cannot hang.
    ::Display* control = connection_->display();
    XRecordDisableContext(control, recordContext_);
    XRecordFreeContext(control, recordContext_);
    XSync(control, False);
    recordEvents_.stop();
    recordConnection_.reset();
    recordContext_ = 0;
}

void X11InputMonitor::handle(XEvent& event) {
    ::Display* display = connection_->display();
    if (event.type == GenericEvent && event.xcookie.extension == xiOpcode_) {
        if (XGetEventData(display, &event.xcookie)) {
            const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
            handleRawEvent(event.xcookie.evtype, static_cast<unsigned int>(raw->detail),
                           raw->sourceid, raw->time);
            XFreeEventData(display, &event.xcookie);
        }
    } else if (event.type == xkbEventBase_) {
        const auto* xkb = reinterpret_cast<const XkbEvent*>(&event);
        if (xkb->any.xkb_type == XkbStateNotify) {
            handleModifierState(xkb->state.mods, xkb->state.keycode, xkb->state.event_type);
        }
    }
}

void X11InputMonitor::handleRawEvent(int type, unsigned int detail, int sourceDevice,
                                     unsigned long time) {
    InputEvent event;
    event.modifierFlags = flags_;
    switch (type) {
    case XI_RawKeyPress: {
        // Some drivers send raw presses again while a key is held: those are no keystrokes. The
        // server's own repeats never come as raw events; the recording reports them.
        const bool first = keysDown_.insert(detail).second;
        if (isPosted(detail, true, sourceDevice)) {
            return;
        }
        noteUserInput(time);
        if (!first || isModifierKey(detail)) {
            return;
        }
        const auto key = X11Keys::keyFromX(detail);
        if (!key) {
            return;
        }
        const bool own = isOwnWindowFocused();
        ownFocus_.store(own);
        if (own) {
            return;
        }
        event.type = InputEventType::keyDown;
        event.key = *key;
        break;
    }
    case XI_RawKeyRelease:
        keysDown_.erase(detail);
        if (!isPosted(detail, false, sourceDevice)) {
            noteUserInput(time);
        }
        return;
    case XI_RawButtonPress:
        noteUserInput(time);
        if (detail >= 1 && detail <= 7 && detail != 2 && isOwnWindowUnderPointer(None)) {
            if (detail < 4) {
                buttonsDown_.insert(detail);
            }
            return;
        }
        if (detail >= 4 && detail <= 7) {
            event.type = InputEventType::scrollWheel;
            break;
        }
        buttonsDown_.insert(detail);
        if (detail == 1) {
            event.type = InputEventType::leftMouseDown;
        } else if (detail == 3) {
            event.type = InputEventType::rightMouseDown;
        } else {
            return;
        }
        break;
    case XI_RawButtonRelease:
        noteUserInput(time);
        buttonsDown_.erase(detail);
        return;
    case XI_RawMotion: {
        // Raw motion is in device units and also carries smooth-scroll valuators; only a changed
        // pointer position counts as a move.
        Window rootReturn = None, child = None;
        int x = 0, y = 0, windowX = 0, windowY = 0;
        unsigned int buttons = 0;
        if (!XQueryPointer(connection_->display(), connection_->root(), &rootReturn, &child, &x, &y,
                           &windowX, &windowY, &buttons)) {
            return;
        }
        if (x == lastX_ && y == lastY_) {
            return;
        }
        lastX_ = x;
        lastY_ = y;
        if (isOwnWindowUnderPointer(child)) {
            return;
        }
        if (buttonsDown_.count(1)) {
            event.type = InputEventType::leftMouseDragged;
        } else if (buttonsDown_.count(3)) {
            event.type = InputEventType::rightMouseDragged;
        } else {
            event.type = InputEventType::mouseMoved;
        }
        break;
    }
    default:
        return;
    }
    dispatch(event);
}

void X11InputMonitor::handleRecordedKey(bool press, unsigned int detail, unsigned int xState) {
    if (!press) {
        recordedKeysDown_.erase(detail);
        return;
    }
    // The first press of a key is the raw events' to report; a press of a key that is already
    // down is the server repeating it.
    if (recordedKeysDown_.insert(detail).second || isModifierKey(detail) || ownFocus_.load()) {
        return;
    }
    const auto key = X11Keys::keyFromX(detail);
    if (!key) {
        return;
    }
    InputEvent event;
    event.type = InputEventType::keyDown;
    event.key = *key;
    event.modifierFlags = X11Keys::systemFlagsFromX(xState);
    dispatch(event);
}

void X11InputMonitor::handleModifierState(unsigned int xState, unsigned int keycode,
                                          int eventType) {
    const bool posted =
        posted_ && keycode != 0 && posted_->takeStateChange(keycode, eventType == KeyPress);
    const std::uint64_t flags = X11Keys::systemFlagsFromX(xState);
    if (flags == flags_) {
        return;
    }
    flags_ = flags;
    if (posted || isOwnWindowFocused()) {
        return;
    }
    InputEvent event;
    event.type = InputEventType::flagsChanged;
    event.modifierFlags = flags;
    dispatch(event);
}

void X11InputMonitor::noteUserInput(unsigned long time) {
    if (time != CurrentTime) {
        lastUserInput_.store(time);
    }
}

std::optional<unsigned long> X11InputMonitor::lastUserInputTime() const {
    const unsigned long time = lastUserInput_.load();
    return time == CurrentTime ? std::nullopt : std::optional(time);
}

bool X11InputMonitor::isPosted(unsigned int keycode, bool press, int sourceDevice) {
    // A key the user pressed on a real keyboard is never ours, whatever we posted meanwhile.
    if (!posted_ || (!xtestDevices_.empty() && !xtestDevices_.count(sourceDevice))) {
        return false;
    }
    return posted_->takeRaw(keycode, press);
}

bool X11InputMonitor::isOwnWindowFocused() {
    Window focus = None;
    int revert = 0;
    {
        X11Connection::ErrorTrap trap(*connection_);
        XGetInputFocus(connection_->display(), &focus, &revert);
    }
    if (focus == PointerRoot) {
        return isOwnWindowUnderPointer(None); // keys go where the pointer is
    }
    return focus != None && isOwnWindow(focus);
}

bool X11InputMonitor::isOwnWindowUnderPointer(unsigned long rootChild) {
    ::Display* display = connection_->display();
    X11Connection::ErrorTrap trap(*connection_);
    Window window = rootChild;
    Window rootReturn = None, child = None;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned int buttons = 0;
    if (window == None) {
        if (!XQueryPointer(display, connection_->root(), &rootReturn, &window, &rootX, &rootY, &x,
                           &y, &buttons)) {
            return false;
        }
    }
    // Down to the deepest window: a window manager's frame is its own, the client inside it is
    // the program's.
    Window deepest = None;
    for (int depth = 0; window != None && depth < pointerDepth; ++depth) {
        deepest = window;
        child = None;
        if (!XQueryPointer(display, window, &rootReturn, &child, &rootX, &rootY, &x, &y,
                           &buttons)) {
            break;
        }
        window = child;
    }
    return deepest != None && isOwnWindow(deepest);
}

bool X11InputMonitor::isOwnWindow(unsigned long window) {
    if (const auto known = ownWindows_.find(window); known != ownWindows_.end()) {
        return known->second;
    }
    if (ownWindows_.size() >= ownWindowsRemembered) {
        ownWindows_.clear();
    }
    X11Connection::ErrorTrap trap(*connection_);
    const auto pid = X11WindowList::pidOf(*connection_, window);
    const bool own = pid && *pid == ownPid_;
    ownWindows_.emplace(window, own);
    return own;
}

void X11InputMonitor::dispatch(const InputEvent& event) {
    std::lock_guard lock(monitorsMutex_);
    const std::uint64_t bit = eventMask(event.type);
    // Copy the tokens: a handler may remove monitors (its own or others').
    std::vector<MonitorToken> tokens;
    for (const auto& [token, monitor] : monitors_) {
        if (monitor.mask & bit) {
            tokens.push_back(token);
        }
    }
    for (MonitorToken token : tokens) {
        auto it = monitors_.find(token);
        if (it != monitors_.end()) {
            auto handler = it->second.handler;
            handler(event);
        }
    }
}

} // namespace orvane::linuxbackend
