#include "backends/linux/wayland/gnome/BridgeConnection.hpp"

#include "backends/linux/BackendLog.hpp"
#include "backends/linux/dbus/BusConnection.hpp"
#include "backends/linux/wayland/gnome/BridgeReplies.hpp"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace orvane::linuxbackend {
namespace {

using namespace BridgeReplies;

bool isError(sd_bus_message* m) {
    return sd_bus_message_is_method_error(m, nullptr) != 0;
}

} // namespace

// The worker's state: its connection, the calls in flight. Created, used and destroyed on the
// worker thread only.
class BridgeLoop {
public:
    BridgeLoop(BridgeConnection& owner, BusLoop& loop)
        : owner_(owner), loop_(loop), bus_(loop, BusKind::session, [this] { lost(); }) {}

    ~BridgeLoop() { forgetCalls(); }

    BridgeLoop(const BridgeLoop&) = delete;
    BridgeLoop& operator=(const BridgeLoop&) = delete;

    bool start() {
        if (!bus_.opened()) {
            logInfo(std::string("session bus unavailable (") + std::strerror(-bus_.openError()) +
                    "): the desktop's bridge is not reached");
            owner_.markSettled();
            return false;
        }
        // The daemon takes requests in order: the matches are in place before the owners are
        // answered, so nothing the bridge says after that is missed. The bridge sends to us
        // alone; whoever else sends on its interface is not heard (the sender is checked
        // against the bridge's owner). A refused match ends the connection.
        bus_.addMatch(std::string("type='signal',path='") + BridgeConnection::objectPath +
                          "',interface='" + BridgeConnection::interfaceName + "'",
                      [this](sd_bus_message* m) { onSignal(m); });
        bus_.followOwners({BridgeConnection::busName, BridgeConnection::shellName},
                          [this](const NameOwner& owner) { onOwner(owner); });
        return true;
    }

private:
    // Calls of the bridge whose answers belong to its current owner; dropped when it goes.
    void callBridge(sd_bus_slot** slot, const char* member,
                    void (BridgeLoop::*handler)(sd_bus_message*)) {
        *slot = sd_bus_slot_unref(*slot);
        bus_.callAsync(
            bus_.newCall(BridgeConnection::busName, BridgeConnection::objectPath,
                         BridgeConnection::interfaceName, member),
            0, [this, handler](sd_bus_message* m) { (this->*handler)(m); }, slot);
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

    // Who owns the bridge's name and the shell's: first as the bus answers, then each change.
    void onOwner(const NameOwner& owner) {
        std::string& known = owner.name == BridgeConnection::busName ? bridgeOwner_ : shellOwner_;
        known = owner.after;
        if (owner.first) {
            ++ownersAnswered_;
        } else if (&known == &bridgeOwner_ && !trusted_.empty()) {
            // A new owner is a new bridge, even if the same connection took the name again.
            detach();
        }
        reconsider();
    }

    void onFollow(sd_bus_message* m) {
        followSlot_ = sd_bus_slot_unref(followSlot_);
        if (isError(m) || !fromBridge(m)) {
            const sd_bus_error* error = sd_bus_message_get_error(m);
            logInfo(std::string("the desktop's bridge does not let Orvane follow it: ") +
                    (error && error->message ? error->message : "no answer"));
        }
    }

    void onVersion(sd_bus_message* m) {
        versionSlot_ = sd_bus_slot_unref(versionSlot_);
        unsigned version = 0;
        if (isError(m) || !fromBridge(m) || sd_bus_message_read(m, "u", &version) < 0) {
            attaching_ = false;
            owner_.markSettled();
            logInfo("the desktop's bridge does not say its version: it is not used");
            return;
        }
        owner_.update([version](CompositorSnapshot& s) { s.version = version; });
        if (version != BridgeConnection::version) {
            attaching_ = false;
            logInfo("the desktop's bridge speaks version " + std::to_string(version) +
                    ", and Orvane speaks " + std::to_string(BridgeConnection::version) +
                    ": it is not used");
            owner_.post({CompositorEvent::Kind::refused});
            owner_.markSettled();
            return;
        }
        callBridge(&allSlot_, "GetState", &BridgeLoop::onState);
        askMonitors();
        askWindows();
    }

    void onState(sd_bus_message* m) {
        allSlot_ = sd_bus_slot_unref(allSlot_);
        if (!isError(m) && fromBridge(m)) {
            readProperties(m, false);
        }
        finishAttaching();
    }

    void onMonitors(sd_bus_message* m) {
        monitorsSlot_ = sd_bus_slot_unref(monitorsSlot_);
        auto monitors = isError(m) || !fromBridge(m) ? std::nullopt : readMonitors(m);
        if (monitors) {
            auto shared =
                std::make_shared<const std::vector<CompositorMonitor>>(std::move(*monitors));
            owner_.update([&](CompositorSnapshot& s) { s.monitors = shared; });
        }
        // An answer lost (a busy shell answers late) is asked for again, a few times: without
        // it the bridge would count as read with nothing in it until the next change.
        const bool retry = !monitors && !trusted_.empty() && monitorsRetries_ < maxRetries;
        monitorsRetries_ = monitors ? 0 : monitorsRetries_ + 1;
        if (std::exchange(monitorsDirty_, false) || retry) {
            askMonitors();
        } else if (monitors && isReady()) {
            owner_.post({CompositorEvent::Kind::monitorsChanged});
        }
        finishAttaching();
    }

    void onWindows(sd_bus_message* m) {
        windowsSlot_ = sd_bus_slot_unref(windowsSlot_);
        auto windows = isError(m) || !fromBridge(m) ? std::nullopt : readWindows(m);
        if (windows) {
            auto shared =
                std::make_shared<const std::vector<CompositorWindow>>(std::move(*windows));
            owner_.update([&](CompositorSnapshot& s) { s.windows = shared; });
        }
        const bool retry = !windows && !trusted_.empty() && windowsRetries_ < maxRetries;
        windowsRetries_ = windows ? 0 : windowsRetries_ + 1;
        if (std::exchange(windowsDirty_, false) || retry) {
            askWindows();
        } else if (windows && isReady()) {
            owner_.post({CompositorEvent::Kind::windowsChanged});
        }
        finishAttaching();
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

    void onSignal(sd_bus_message* m) {
        if (!fromBridge(m) || !isReady()) {
            return; // another program's, or the state being read now covers it
        }
        const char* member = sd_bus_message_get_member(m);
        if (std::strcmp(member, "StateChanged") == 0) {
            readProperties(m, true);
        } else if (std::strcmp(member, "MonitorsChanged") == 0) {
            askMonitors();
        } else if (std::strcmp(member, "WindowsChanged") == 0) {
            askWindows();
        } else if (std::strcmp(member, "Input") == 0) {
            CompositorInput input;
            input.receivedAtMilliseconds = std::chrono::duration<double, std::milli>(
                                               std::chrono::steady_clock::now().time_since_epoch())
                                               .count();
            if (sd_bus_message_read(m, "iiuu", &input.x, &input.y, &input.state,
                                    &input.idleMilliseconds) >= 0) {
                CompositorEvent event{CompositorEvent::Kind::input};
                event.input = input;
                owner_.updateAndPost([&input](CompositorSnapshot& s) { s.input = input; },
                                     std::move(event));
            }
        } else if (std::strcmp(member, "AcceleratorActivated") == 0) {
            CompositorEvent event{CompositorEvent::Kind::acceleratorActivated};
            if (sd_bus_message_read(m, "u", &event.action) >= 0) {
                owner_.post(std::move(event));
            }
        } else if (std::strcmp(member, "IndicatorActivated") == 0) {
            const char* id = nullptr;
            if (sd_bus_message_read(m, "s", &id) >= 0 && id) {
                CompositorEvent event{CompositorEvent::Kind::indicatorActivated};
                event.id = bounded(id, maxTextLength);
                owner_.post(std::move(event));
            }
        } else if (std::strcmp(member, "IndicatorOpening") == 0) {
            owner_.post({CompositorEvent::Kind::indicatorOpening});
        }
    }

    void lost() {
        logInfo("session bus connection lost: the desktop's bridge is no longer reached");
        detach();
        loop_.exit();
    }

    BridgeConnection& owner_;
    BusLoop& loop_;
    BusConnection bus_;
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
    int ownersAnswered_ = 0;  // of the two first questions
    std::string bridgeOwner_; // unique names; empty: nobody
    std::string shellOwner_;
    std::string trusted_; // the bridge believed: the shell's connection
};

namespace {

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
    worker_.start(
        [this](BusLoop& loop) {
            BridgeLoop bridge(*this, loop);
            if (bridge.start()) {
                loop.run();
            }
        },
        [this](const std::string&) { markSettled(); });
}

BridgeConnection::~BridgeConnection() {
    worker_.stop();
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
    return resultQueue(mainQueue_);
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
        if (openBus(BusKind::session, &bus) < 0) {
            return nullptr;
        }
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

} // namespace orvane::linuxbackend
