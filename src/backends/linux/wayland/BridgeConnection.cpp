#include "backends/linux/wayland/BridgeConnection.hpp"

#include "backends/linux/WorkerWakeUp.hpp"
#include "backends/linux/wayland/BridgeReplies.hpp"
#include "orvane/platform/Platform.hpp"

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <sys/epoll.h>
#include <utility>

namespace orvane::linuxbackend {
namespace {

using namespace BridgeReplies;

void logInfo(const std::string& text) {
    if (auto sink = currentLogSink()) {
        sink->write(LogLevel::info, kApplicationIdentifier, "core", text);
    }
}

bool isError(sd_bus_message* m) {
    return sd_bus_message_is_method_error(m, nullptr) != 0;
}

} // namespace

// The worker's state: its connection, the calls in flight. Created, used and destroyed on the
// worker thread only.
class BridgeLoop {
public:
    BridgeLoop(BridgeConnection& owner, sd_event* event) : owner_(owner), event_(event) {}

    ~BridgeLoop() {
        forgetCalls();
        bus_ = sd_bus_close_unref(bus_);
    }

    BridgeLoop(const BridgeLoop&) = delete;
    BridgeLoop& operator=(const BridgeLoop&) = delete;

    bool start() {
        int r = sd_bus_open_user(&bus_);
        if (r >= 0) {
            r = sd_bus_set_close_on_exit(bus_, 0);
        }
        if (r >= 0) {
            r = sd_bus_attach_event(bus_, event_, SD_EVENT_PRIORITY_NORMAL);
        }
        if (r >= 0) {
            r = sd_bus_match_signal(bus_, nullptr, "org.freedesktop.DBus.Local",
                                    "/org/freedesktop/DBus/Local", "org.freedesktop.DBus.Local",
                                    "Disconnected", &BridgeLoop::onDisconnected, this);
        }
        if (r < 0) {
            bus_ = sd_bus_close_unref(bus_);
            logInfo(std::string("session bus unavailable (") + std::strerror(-r) +
                    "): the desktop's bridge is not reached");
            owner_.markSettled();
            return false;
        }
        // The daemon takes requests in order: the matches are in place before the owners are
        // answered, so nothing the bridge says after that is missed.
        for (const char* name : {BridgeConnection::busName, BridgeConnection::shellName}) {
            addMatch(std::string("type='signal',sender='org.freedesktop.DBus',path='/org/"
                                 "freedesktop/DBus',interface='org.freedesktop.DBus',member='"
                                 "NameOwnerChanged',arg0='") +
                         name + "'",
                     &BridgeLoop::onNameOwnerChanged);
        }
        // The bridge sends to us alone; whoever else sends on its interface is not heard (the
        // sender is checked against the bridge's owner).
        addMatch(std::string("type='signal',path='") + BridgeConnection::objectPath +
                     "',interface='" + BridgeConnection::interfaceName + "'",
                 &BridgeLoop::onSignal);
        for (const char* name : {BridgeConnection::busName, BridgeConnection::shellName}) {
            sd_bus_call_method_async(bus_, nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                     "org.freedesktop.DBus", "GetNameOwner", &BridgeLoop::onOwner,
                                     this, "s", name);
        }
        return true;
    }

private:
    static BridgeLoop& of(void* userdata) { return *static_cast<BridgeLoop*>(userdata); }

    void addMatch(const std::string& match, sd_bus_message_handler_t handler) {
        const int r = sd_bus_add_match_async(bus_, nullptr, match.c_str(), handler, nullptr, this);
        if (r < 0) {
            logInfo("cannot watch " + match + " (" + std::strerror(-r) + ")");
        }
    }

    // Calls of the bridge whose answers belong to its current owner; dropped when it goes.
    sd_bus_slot** callBridge(sd_bus_slot** slot, const char* member,
                             sd_bus_message_handler_t handler) {
        sd_bus_slot_unref(*slot);
        *slot = nullptr;
        const int r = sd_bus_call_method_async(
            bus_, slot, BridgeConnection::busName, BridgeConnection::objectPath,
            BridgeConnection::interfaceName, member, handler, this, "");
        return r >= 0 ? slot : nullptr;
    }

    // An answer or a signal of the bridge we believe, not of whoever had its name before.
    bool fromBridge(sd_bus_message* m) const {
        const char* sender = sd_bus_message_get_sender(m);
        return sender && !trusted_.empty() && trusted_ == sender;
    }

    void forgetCalls() {
        for (sd_bus_slot** slot :
             {&followSlot_, &versionSlot_, &allSlot_, &monitorsSlot_, &windowsSlot_}) {
            *slot = sd_bus_slot_unref(*slot);
        }
        monitorsDirty_ = windowsDirty_ = false;
        monitorsRetries_ = windowsRetries_ = 0;
    }

    // The bridge is believed only as GNOME Shell's own: its name and the shell's owned by one
    // connection. Another program that takes the name (while the extension is off, as it is
    // behind every screen lock) is told nothing and not listened to.
    void reconsider() {
        if (ownersAnswered_ < 2) {
            return;
        }
        const bool shells = !bridgeOwner_.empty() && bridgeOwner_ == shellOwner_;
        const std::string wanted = shells ? bridgeOwner_ : std::string();
        const std::string impostor =
            !bridgeOwner_.empty() && !shells ? bridgeOwner_ : std::string();
        if (impostor != owner_.impostor()) {
            if (!impostor.empty()) {
                logInfo("net.orvane.Bridge is held by " + impostor + ", not by GNOME Shell (" +
                        (shellOwner_.empty() ? std::string("not on the bus") : shellOwner_) +
                        "): it is not believed, and nothing is sent to it");
            }
            owner_.setImpostor(impostor);
        }
        if (wanted == trusted_) {
            if (wanted.empty()) {
                owner_.markSettled();
            }
            return;
        }
        if (!trusted_.empty()) {
            detach();
        }
        if (wanted.empty()) {
            owner_.markSettled();
            return;
        }
        attach(wanted);
    }

    void attach(const std::string& unique) {
        forgetCalls();
        trusted_ = unique;
        owner_.setTrustedOwner(unique);
        attaching_ = true;
        owner_.update([](CompositorSnapshot& s) {
            s = CompositorSnapshot{};
            s.present = true;
        });
        // Signals come to followers only; asked first, so that none after the state is read
        // is missed.
        callBridge(&followSlot_, "Follow", &BridgeLoop::onFollow);
        callBridge(&versionSlot_, "GetVersion", &BridgeLoop::onVersion);
    }

    void detach() {
        const bool wasReady = owner_.snapshot().ready;
        forgetCalls();
        attaching_ = false;
        trusted_.clear();
        owner_.setTrustedOwner({});
        owner_.update([](CompositorSnapshot& s) { s = CompositorSnapshot{}; });
        if (wasReady) {
            owner_.post({CompositorEvent::Kind::vanished});
        }
    }

    void finishAttaching() {
        if (attaching_ && !allSlot_ && !monitorsSlot_ && !windowsSlot_) {
            attaching_ = false;
            owner_.update([](CompositorSnapshot& s) { s.ready = true; });
            owner_.post({CompositorEvent::Kind::ready});
            owner_.markSettled();
        }
    }

    bool isReady() const { return !attaching_ && owner_.snapshot().ready; }

    void askMonitors() {
        if (monitorsSlot_) {
            monitorsDirty_ = true; // asked again once this answer is in
            return;
        }
        callBridge(&monitorsSlot_, "GetMonitors", &BridgeLoop::onMonitors);
    }

    void askWindows() {
        if (windowsSlot_) {
            windowsDirty_ = true;
            return;
        }
        callBridge(&windowsSlot_, "GetWindows", &BridgeLoop::onWindows);
    }

    // The first answers of who owns the bridge's name and the shell's.
    static int onOwner(sd_bus_message* m, void* userdata, sd_bus_error*) {
        BridgeLoop& loop = of(userdata);
        const char* unique = nullptr;
        if (!isError(m) && sd_bus_message_read(m, "s", &unique) < 0) {
            unique = nullptr;
        }
        // Asked in this order, and the daemon answers in order.
        std::string& known = loop.ownersAnswered_ == 0 ? loop.bridgeOwner_ : loop.shellOwner_;
        known = unique ? unique : "";
        ++loop.ownersAnswered_;
        loop.reconsider();
        return 0;
    }

    static int onNameOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
        const char* name = nullptr;
        const char* before = nullptr;
        const char* after = nullptr;
        if (sd_bus_message_read(m, "sss", &name, &before, &after) < 0) {
            return 0;
        }
        BridgeLoop& loop = of(userdata);
        std::string* known = nullptr;
        if (std::strcmp(name, BridgeConnection::busName) == 0) {
            known = &loop.bridgeOwner_;
        } else if (std::strcmp(name, BridgeConnection::shellName) == 0) {
            known = &loop.shellOwner_;
        } else {
            return 0;
        }
        *known = after ? after : "";
        // A new owner is a new bridge, even if the same connection took the name again.
        if (known == &loop.bridgeOwner_ && !loop.trusted_.empty()) {
            loop.detach();
        }
        loop.reconsider();
        return 0;
    }

    static int onFollow(sd_bus_message* m, void* userdata, sd_bus_error*) {
        BridgeLoop& loop = of(userdata);
        loop.followSlot_ = sd_bus_slot_unref(loop.followSlot_);
        if (isError(m) || !loop.fromBridge(m)) {
            const sd_bus_error* error = sd_bus_message_get_error(m);
            logInfo(std::string("the desktop's bridge does not let Orvane follow it: ") +
                    (error && error->message ? error->message : "no answer"));
        }
        return 0;
    }

    static int onVersion(sd_bus_message* m, void* userdata, sd_bus_error*) {
        BridgeLoop& loop = of(userdata);
        loop.versionSlot_ = sd_bus_slot_unref(loop.versionSlot_);
        unsigned version = 0;
        if (isError(m) || !loop.fromBridge(m) || sd_bus_message_read(m, "u", &version) < 0) {
            loop.attaching_ = false;
            loop.owner_.markSettled();
            logInfo("the desktop's bridge does not say its version: it is not used");
            return 0;
        }
        loop.owner_.update([version](CompositorSnapshot& s) { s.version = version; });
        if (version != BridgeConnection::version) {
            loop.attaching_ = false;
            logInfo("the desktop's bridge speaks version " + std::to_string(version) +
                    ", and Orvane speaks " + std::to_string(BridgeConnection::version) +
                    ": it is not used");
            loop.owner_.post({CompositorEvent::Kind::refused});
            loop.owner_.markSettled();
            return 0;
        }
        loop.callBridge(&loop.allSlot_, "GetState", &BridgeLoop::onState);
        loop.askMonitors();
        loop.askWindows();
        return 0;
    }

    static int onState(sd_bus_message* m, void* userdata, sd_bus_error*) {
        BridgeLoop& loop = of(userdata);
        loop.allSlot_ = sd_bus_slot_unref(loop.allSlot_);
        if (!isError(m) && loop.fromBridge(m)) {
            loop.readProperties(m, false);
        }
        loop.finishAttaching();
        return 0;
    }

    static int onMonitors(sd_bus_message* m, void* userdata, sd_bus_error*) {
        BridgeLoop& loop = of(userdata);
        loop.monitorsSlot_ = sd_bus_slot_unref(loop.monitorsSlot_);
        auto monitors = isError(m) || !loop.fromBridge(m) ? std::nullopt : readMonitors(m);
        if (monitors) {
            auto shared =
                std::make_shared<const std::vector<CompositorMonitor>>(std::move(*monitors));
            loop.owner_.update([&](CompositorSnapshot& s) { s.monitors = shared; });
        }
        // An answer lost (a busy shell answers late) is asked for again, a few times: without
        // it the bridge would count as read with nothing in it until the next change.
        const bool retry =
            !monitors && !loop.trusted_.empty() && loop.monitorsRetries_ < maxRetries;
        loop.monitorsRetries_ = monitors ? 0 : loop.monitorsRetries_ + 1;
        if (std::exchange(loop.monitorsDirty_, false) || retry) {
            loop.askMonitors();
        } else if (monitors && loop.isReady()) {
            loop.owner_.post({CompositorEvent::Kind::monitorsChanged});
        }
        loop.finishAttaching();
        return 0;
    }

    static int onWindows(sd_bus_message* m, void* userdata, sd_bus_error*) {
        BridgeLoop& loop = of(userdata);
        loop.windowsSlot_ = sd_bus_slot_unref(loop.windowsSlot_);
        auto windows = isError(m) || !loop.fromBridge(m) ? std::nullopt : readWindows(m);
        if (windows) {
            auto shared =
                std::make_shared<const std::vector<CompositorWindow>>(std::move(*windows));
            loop.owner_.update([&](CompositorSnapshot& s) { s.windows = shared; });
        }
        const bool retry = !windows && !loop.trusted_.empty() && loop.windowsRetries_ < maxRetries;
        loop.windowsRetries_ = windows ? 0 : loop.windowsRetries_ + 1;
        if (std::exchange(loop.windowsDirty_, false) || retry) {
            loop.askWindows();
        } else if (windows && loop.isReady()) {
            loop.owner_.post({CompositorEvent::Kind::windowsChanged});
        }
        loop.finishAttaching();
        return 0;
    }

    // Reads an a{sv} of the bridge's properties at the read position.
    void readProperties(sd_bus_message* m, bool announce) {
        if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sv}") <= 0) {
            return;
        }
        std::vector<CompositorEvent::Kind> changes;
        while (sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
            const char* name = nullptr;
            if (sd_bus_message_read(m, "s", &name) < 0) {
                return;
            }
            int r = 0;
            if (std::strcmp(name, "FocusWindow") == 0) {
                std::uint64_t focus = 0;
                r = sd_bus_message_read(m, "v", "t", &focus);
                owner_.update([focus](CompositorSnapshot& s) { s.focusWindow = focus; });
                changes.push_back(CompositorEvent::Kind::focusChanged);
            } else if (std::strcmp(name, "OverviewActive") == 0) {
                int active = 0;
                r = sd_bus_message_read(m, "v", "b", &active);
                owner_.update([active](CompositorSnapshot& s) { s.overviewActive = active != 0; });
                changes.push_back(CompositorEvent::Kind::overviewChanged);
            } else if (std::strcmp(name, "ShellModal") == 0) {
                const char* modal = nullptr;
                r = sd_bus_message_read(m, "v", "s", &modal);
                const std::string text = r >= 0 ? bounded(modal, maxWordLength) : "";
                owner_.update([&text](CompositorSnapshot& s) { s.shellModal = text; });
                changes.push_back(CompositorEvent::Kind::shellModalChanged);
            } else if (std::strcmp(name, "ShellVersion") == 0) {
                const char* shell = nullptr;
                r = sd_bus_message_read(m, "v", "s", &shell);
                const std::string text = r >= 0 ? bounded(shell, maxWordLength) : "";
                owner_.update([&text](CompositorSnapshot& s) { s.compositorVersion = text; });
            } else {
                r = sd_bus_message_skip(m, "v");
            }
            if (r < 0 || sd_bus_message_exit_container(m) < 0) {
                return;
            }
        }
        sd_bus_message_exit_container(m);
        if (announce) {
            for (auto kind : changes) {
                owner_.post({kind});
            }
        }
    }

    static int onSignal(sd_bus_message* m, void* userdata, sd_bus_error*) {
        BridgeLoop& loop = of(userdata);
        if (!loop.fromBridge(m) || !loop.isReady()) {
            return 0; // another program's, or the state being read now covers it
        }
        const char* member = sd_bus_message_get_member(m);
        if (std::strcmp(member, "StateChanged") == 0) {
            loop.readProperties(m, true);
        } else if (std::strcmp(member, "MonitorsChanged") == 0) {
            loop.askMonitors();
        } else if (std::strcmp(member, "WindowsChanged") == 0) {
            loop.askWindows();
        } else if (std::strcmp(member, "Input") == 0) {
            CompositorInput input;
            input.receivedAtMilliseconds = std::chrono::duration<double, std::milli>(
                                               std::chrono::steady_clock::now().time_since_epoch())
                                               .count();
            if (sd_bus_message_read(m, "iiuu", &input.x, &input.y, &input.state,
                                    &input.idleMilliseconds) >= 0) {
                CompositorEvent event{CompositorEvent::Kind::input};
                event.input = input;
                loop.owner_.updateAndPost([&input](CompositorSnapshot& s) { s.input = input; },
                                          std::move(event));
            }
        } else if (std::strcmp(member, "AcceleratorActivated") == 0) {
            CompositorEvent event{CompositorEvent::Kind::acceleratorActivated};
            if (sd_bus_message_read(m, "u", &event.action) >= 0) {
                loop.owner_.post(std::move(event));
            }
        } else if (std::strcmp(member, "IndicatorActivated") == 0) {
            const char* id = nullptr;
            if (sd_bus_message_read(m, "s", &id) >= 0 && id) {
                CompositorEvent event{CompositorEvent::Kind::indicatorActivated};
                event.id = bounded(id, maxTextLength);
                loop.owner_.post(std::move(event));
            }
        } else if (std::strcmp(member, "IndicatorOpening") == 0) {
            loop.owner_.post({CompositorEvent::Kind::indicatorOpening});
        }
        return 0;
    }

    static int onDisconnected(sd_bus_message*, void* userdata, sd_bus_error*) {
        BridgeLoop& loop = of(userdata);
        logInfo("session bus connection lost: the desktop's bridge is no longer reached");
        loop.detach();
        sd_event_exit(loop.event_, 0);
        return 0;
    }

    BridgeConnection& owner_;
    sd_event* event_;
    sd_bus* bus_ = nullptr;
    sd_bus_slot* followSlot_ = nullptr;
    sd_bus_slot* versionSlot_ = nullptr;
    sd_bus_slot* allSlot_ = nullptr;
    sd_bus_slot* monitorsSlot_ = nullptr;
    sd_bus_slot* windowsSlot_ = nullptr;
    bool monitorsDirty_ = false;
    bool windowsDirty_ = false;
    bool attaching_ = false; // the current owner's state is being read
    static constexpr int maxRetries = 3;
    int monitorsRetries_ = 0; // lost answers in a row
    int windowsRetries_ = 0;
    int ownersAnswered_ = 0;  // of the two first GetNameOwner calls
    std::string bridgeOwner_; // unique names; empty: nobody
    std::string shellOwner_;
    std::string trusted_; // the bridge believed: the shell's connection
};

namespace {

int onWake(sd_event_source* source, int, std::uint32_t, void*) {
    sd_event_exit(sd_event_source_get_event(source), 0);
    return 0;
}

sd_bus_message* callWith(sd_bus* bus, const char* service, const char* path, const char* interface,
                         const char* member, const char* types, va_list arguments) {
    if (!bus) {
        return nullptr;
    }
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r = sd_bus_message_new_method_call(bus, &call, service, path, interface, member);
    if (r >= 0 && types && *types) {
        r = sd_bus_message_appendv(call, types, arguments);
    }
    if (r >= 0) {
        r = sd_bus_call(bus, call, BridgeConnection::callTimeoutMicroseconds, &error, &reply);
    }
    sd_bus_message_unref(call);
    sd_bus_error_free(&error);
    return r >= 0 ? reply : nullptr;
}

} // namespace

BridgeConnection::BridgeConnection(std::shared_ptr<MainQueue> mainQueue)
    : mainQueue_(std::move(mainQueue)) {
    // The bridge forgets who asked for input when it goes: ask again when it is back.
    rewatch_ = listen([this](const CompositorEvent& event) {
        if (event.kind == CompositorEvent::Kind::ready && inputInterval_ > 0) {
            watchInput(inputInterval_);
        }
    });
    if (auto problem = startWithWakeUp(thread_, wakeFd_, [this] { run(); })) {
        logInfo("the desktop's bridge is not reached: " + *problem);
    }
}

BridgeConnection::~BridgeConnection() {
    wakeJoinAndClose(thread_, wakeFd_);
    rewatch_.reset();
    callBus_ = sd_bus_flush_close_unref(callBus_);
}

CompositorSnapshot BridgeConnection::snapshot() const {
    std::lock_guard lock(mutex_);
    return snapshot_;
}

void BridgeConnection::update(const std::function<void(CompositorSnapshot&)>& change) {
    std::lock_guard lock(mutex_);
    change(snapshot_);
}

std::shared_ptr<MainQueue> BridgeConnection::queue() const {
    if (mainQueue_) {
        return mainQueue_;
    }
    return hasPlatform() ? platform().mainQueue : nullptr;
}

std::optional<std::uint64_t> BridgeConnection::activateWindow(std::uint64_t id) {
    sd_bus_message* reply = call("ActivateWindow", "t", id);
    int activated = 0;
    const bool answered = reply && sd_bus_message_read(reply, "b", &activated) >= 0;
    sd_bus_message_unref(reply);
    if (!answered || !activated) {
        return std::nullopt;
    }
    // Asked now rather than taken from the cache, which hears of the change a moment later.
    reply = call("GetState", "");
    std::optional<std::uint64_t> focus = reply ? readFocus(reply) : std::nullopt;
    sd_bus_message_unref(reply);
    return focus;
}

bool BridgeConnection::warpPointer(int x, int y) {
    sd_bus_message* reply = call("WarpPointer", "ii", x, y);
    if (!reply) {
        return false;
    }
    sd_bus_message_unref(reply);
    // Known at once, so that the sample showing the warp is no move of the user's: the
    // guards take the pointer's place right after warping it.
    update([x, y](CompositorSnapshot& s) {
        if (s.input) {
            s.input->x = x;
            s.input->y = y;
        }
    });
    return true;
}

std::optional<plinth::Point> BridgeConnection::queryPointer() {
    sd_bus_message* reply = call("GetPointer", "");
    if (!reply) {
        return std::nullopt;
    }
    int x = 0, y = 0;
    std::uint32_t state = 0;
    const bool read = sd_bus_message_read(reply, "iiu", &x, &y, &state) >= 0;
    sd_bus_message_unref(reply);
    if (!read) {
        return std::nullopt;
    }
    return plinth::Point{double(x), double(y)};
}

bool BridgeConnection::postKey(std::uint32_t keysym, bool press) {
    sd_bus_message* reply = call("PostKey", "ub", keysym, int(press));
    int posted = 0;
    const bool ok = reply && sd_bus_message_read(reply, "b", &posted) >= 0 && posted != 0;
    sd_bus_message_unref(reply);
    return ok;
}

void BridgeConnection::markSettled() {
    {
        std::lock_guard lock(mutex_);
        settled_ = true;
    }
    settledChanged_.notify_all();
}

bool BridgeConnection::waitUntilSettled(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return settledChanged_.wait_for(lock, timeout, [this] { return settled_; });
}

void BridgeConnection::updateAndPost(const std::function<void(CompositorSnapshot&)>& change,
                                     CompositorEvent event) {
    // Under the lock, so that whoever sees the sample in the snapshot finds its event queued.
    std::lock_guard lock(mutex_);
    change(snapshot_);
    post(std::move(event));
}

void BridgeConnection::post(CompositorEvent event) {
    listeners_.post(queue(), std::move(event));
}

Subscription BridgeConnection::listen(std::function<void(const CompositorEvent&)> listener) {
    return listeners_.add(std::move(listener));
}

sd_bus* BridgeConnection::callBus() {
    if (callBus_ && sd_bus_is_open(callBus_) <= 0) {
        callBus_ = sd_bus_close_unref(callBus_); // the bus went: a new one may be there
    }
    if (!callBus_) {
        sd_bus* bus = nullptr;
        if (sd_bus_open_user(&bus) < 0) {
            return nullptr;
        }
        sd_bus_set_close_on_exit(bus, 0);
        callBus_ = bus;
    }
    return callBus_;
}

void BridgeConnection::setTrustedOwner(std::string unique) {
    std::lock_guard lock(mutex_);
    trustedOwner_ = std::move(unique);
}

void BridgeConnection::setImpostor(std::string unique) {
    std::lock_guard lock(mutex_);
    impostor_ = std::move(unique);
}

std::string BridgeConnection::impostor() const {
    std::lock_guard lock(mutex_);
    return impostor_;
}

std::string BridgeConnection::trustedOwner() const {
    std::lock_guard lock(mutex_);
    return trustedOwner_;
}

sd_bus_message* BridgeConnection::fromTrustedOwner(sd_bus_message* reply) const {
    const char* sender = reply ? sd_bus_message_get_sender(reply) : nullptr;
    if (!sender || trustedOwner() != sender) {
        sd_bus_message_unref(reply);
        return nullptr;
    }
    return reply;
}

sd_bus_message* BridgeConnection::call(const char* member, const char* types, ...) {
    // Nothing goes to a bridge not believed to be the shell's.
    if (trustedOwner().empty()) {
        return nullptr;
    }
    va_list arguments;
    va_start(arguments, types);
    sd_bus_message* reply =
        callWith(callBus(), busName, objectPath, interfaceName, member, types, arguments);
    va_end(arguments);
    return fromTrustedOwner(reply);
}

sd_bus_message* BridgeConnection::callService(const char* service, const char* path,
                                              const char* interface, const char* member,
                                              const char* types, ...) {
    va_list arguments;
    va_start(arguments, types);
    sd_bus_message* reply = callWith(callBus(), service, path, interface, member, types, arguments);
    va_end(arguments);
    return reply;
}

sd_bus_message* BridgeConnection::newCall(const char* member) {
    sd_bus* bus = callBus();
    sd_bus_message* call = nullptr;
    if (!bus || sd_bus_message_new_method_call(bus, &call, busName, objectPath, interfaceName,
                                               member) < 0) {
        return nullptr;
    }
    return call;
}

sd_bus_message* BridgeConnection::send(sd_bus_message* call) {
    if (!call) {
        return nullptr;
    }
    if (trustedOwner().empty()) {
        sd_bus_message_unref(call);
        return nullptr;
    }
    sd_bus_message* reply = nullptr;
    const int r =
        sd_bus_call(sd_bus_message_get_bus(call), call, callTimeoutMicroseconds, nullptr, &reply);
    sd_bus_message_unref(call);
    return r >= 0 ? fromTrustedOwner(reply) : nullptr;
}

bool BridgeConnection::watchInput(unsigned milliseconds) {
    inputInterval_ = milliseconds;
    sd_bus_message* reply = call("WatchInput", "u", milliseconds);
    const bool answered = reply != nullptr;
    sd_bus_message_unref(reply);
    return answered;
}

void BridgeConnection::run() {
    sd_event* event = nullptr;
    int r = sd_event_new(&event);
    if (r >= 0) {
        r = sd_event_add_io(event, nullptr, wakeFd_, EPOLLIN, &onWake, nullptr);
    }
    if (r < 0) {
        logInfo(std::string("the desktop's bridge is not reached: ") + std::strerror(-r));
        sd_event_unref(event);
        return;
    }
    {
        BridgeLoop loop(*this, event);
        if (loop.start()) {
            sd_event_loop(event);
        }
    }
    sd_event_unref(event);
}

} // namespace orvane::linuxbackend
