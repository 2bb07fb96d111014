#include "backends/linux/wayland/gnome/BridgeConnection.hpp"

#include "backends/linux/BackendLog.hpp"
#include "backends/linux/dbus/BusConnection.hpp"
#include "backends/linux/wayland/gnome/BridgeProtocol.hpp"
#include "backends/linux/wayland/gnome/BridgeReplies.hpp"

#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdarg>
#include <cstring>
#include <utility>

namespace orvane::linuxbackend {
namespace {

using namespace BridgeReplies;
namespace methods = bridge1::methods;
namespace emits = bridge1::emits;

bool isError(sd_bus_message* m) {
    return sd_bus_message_is_method_error(m, nullptr) != 0;
}

// What a method of the bridge answered the worker.
template <class M> struct Answer {
    std::optional<typename M::Reply> reply; // nothing: an error, another's, or malformed
    std::string error;                      // the error's message, when there is one
};

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
    template <class M> void ask(sd_bus_slot** slot, void (BridgeLoop::*handler)(Answer<M>)) {
        *slot = sd_bus_slot_unref(*slot);
        bus_.callAsync(
            bus_.newCall(BridgeConnection::busName, BridgeConnection::objectPath,
                         BridgeConnection::interfaceName, M::name),
            0, [this, handler](sd_bus_message* m) { (this->*handler)(answerOf<M>(m)); }, slot);
    }

    template <class M> Answer<M> answerOf(sd_bus_message* m) const {
        Answer<M> answer;
        if (isError(m)) {
            const sd_bus_error* error = sd_bus_message_get_error(m);
            answer.error = error && error->message ? error->message : "";
        } else if (fromBridge(m)) {
            answer.reply = bridge1::readReply<M>(m);
        }
        return answer;
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
        ask(&followSlot_, &BridgeLoop::onFollow);
        ask(&versionSlot_, &BridgeLoop::onVersion);
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
        ask(&monitorsSlot_, &BridgeLoop::onMonitors);
    }

    void askWindows() {
        if (windowsSlot_) {
            windowsDirty_ = true;
            return;
        }
        ask(&windowsSlot_, &BridgeLoop::onWindows);
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

    void onFollow(Answer<methods::Follow> answer) {
        followSlot_ = sd_bus_slot_unref(followSlot_);
        if (!answer.reply) {
            logInfo(std::string("the desktop's bridge does not let Orvane follow it: ") +
                    (answer.error.empty() ? "no answer" : answer.error));
        }
    }

    void onVersion(Answer<methods::GetVersion> answer) {
        versionSlot_ = sd_bus_slot_unref(versionSlot_);
        if (!answer.reply) {
            attaching_ = false;
            owner_.markSettled();
            logInfo("the desktop's bridge does not say its version: it is not used");
            return;
        }
        const unsigned version = std::get<0>(*answer.reply);
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
        ask(&allSlot_, &BridgeLoop::onState);
        askMonitors();
        askWindows();
    }

    void onState(Answer<methods::GetState> answer) {
        allSlot_ = sd_bus_slot_unref(allSlot_);
        if (answer.reply) {
            apply(std::get<0>(*answer.reply), false);
        }
        finishAttaching();
    }

    void onMonitors(Answer<methods::GetMonitors> answer) {
        monitorsSlot_ = sd_bus_slot_unref(monitorsSlot_);
        auto monitors =
            answer.reply ? std::optional(std::get<0>(std::move(*answer.reply))) : std::nullopt;
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

    void onWindows(Answer<methods::GetWindows> answer) {
        windowsSlot_ = sd_bus_slot_unref(windowsSlot_);
        auto windows =
            answer.reply ? std::optional(std::get<0>(std::move(*answer.reply))) : std::nullopt;
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

    // The bridge's properties as read, in their order; their changes are told when the
    // whole state was read.
    void apply(const BridgeState& state, bool announce) {
        std::vector<CompositorEvent::Kind> changes;
        owner_.update([&](CompositorSnapshot& s) {
            for (const auto& property : state.properties) {
                if (const auto* focus = std::get_if<FocusWindow>(&property)) {
                    s.focusWindow = focus->id;
                    changes.push_back(CompositorEvent::Kind::focusChanged);
                } else if (const auto* overview = std::get_if<OverviewActive>(&property)) {
                    s.overviewActive = overview->active;
                    changes.push_back(CompositorEvent::Kind::overviewChanged);
                } else if (const auto* modal = std::get_if<ShellModal>(&property)) {
                    s.shellModal = modal->what;
                    changes.push_back(CompositorEvent::Kind::shellModalChanged);
                } else if (const auto* shell = std::get_if<ShellVersion>(&property)) {
                    s.compositorVersion = shell->version;
                }
            }
        });
        if (announce && state.whole) {
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
        const auto is = [member](const char* name) {
            return member && std::strcmp(member, name) == 0;
        };
        if (is(emits::StateChanged::name)) {
            if (auto state = bridge1::readSignal<emits::StateChanged>(m)) {
                apply(std::get<0>(*state), true);
            }
        } else if (is(emits::MonitorsChanged::name)) {
            askMonitors();
        } else if (is(emits::WindowsChanged::name)) {
            askWindows();
        } else if (is(emits::Input::name)) {
            CompositorInput input;
            input.receivedAtMilliseconds = std::chrono::duration<double, std::milli>(
                                               std::chrono::steady_clock::now().time_since_epoch())
                                               .count();
            if (auto sample = bridge1::readSignal<emits::Input>(m)) {
                std::tie(input.x, input.y, input.state, input.idleMilliseconds) = *sample;
                CompositorEvent event{CompositorEvent::Kind::input};
                event.input = input;
                owner_.updateAndPost([&input](CompositorSnapshot& s) { s.input = input; },
                                     std::move(event));
            }
        } else if (is(emits::AcceleratorActivated::name)) {
            if (auto action = bridge1::readSignal<emits::AcceleratorActivated>(m)) {
                CompositorEvent event{CompositorEvent::Kind::acceleratorActivated};
                event.action = std::get<0>(*action);
                owner_.post(std::move(event));
            }
        } else if (is(emits::IndicatorActivated::name)) {
            if (auto id = bridge1::readSignal<emits::IndicatorActivated>(m)) {
                CompositorEvent event{CompositorEvent::Kind::indicatorActivated};
                event.id = std::move(std::get<0>(*id).text);
                owner_.post(std::move(event));
            }
        } else if (is(emits::IndicatorOpening::name)) {
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
    const auto activated = ask<methods::ActivateWindow>(id);
    if (!activated || !std::get<0>(*activated)) {
        return std::nullopt;
    }
    // Asked now rather than taken from the cache, which hears of the change a moment later.
    const auto state = ask<methods::GetState>();
    return state ? focusOf(std::get<0>(*state)) : std::nullopt;
}

bool BridgeConnection::warpPointer(int x, int y) {
    if (!ask<methods::WarpPointer>(std::int32_t{x}, std::int32_t{y})) {
        return false;
    }
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
    const auto pointer = ask<methods::GetPointer>();
    if (!pointer) {
        return std::nullopt;
    }
    return plinth::Point{double(std::get<0>(*pointer)), double(std::get<1>(*pointer))};
}

bool BridgeConnection::postKey(std::uint32_t keysym, bool press) {
    const auto posted = ask<methods::PostKey>(keysym, press);
    return posted && std::get<0>(*posted);
}

bool BridgeConnection::setOverviewActive(bool active) {
    return ask<methods::SetOverviewActive>(active).has_value();
}

std::optional<std::uint32_t> BridgeConnection::grabAccelerator(const std::string& accelerator) {
    const auto action = ask<methods::GrabAccelerator>(accelerator);
    return action ? std::optional(std::get<0>(*action)) : std::nullopt;
}

std::optional<bool> BridgeConnection::ungrabAccelerator(std::uint32_t action) {
    const auto released = ask<methods::UngrabAccelerator>(action);
    return released ? std::optional(std::get<0>(*released)) : std::nullopt;
}

bool BridgeConnection::showDot(int x, int y, int diameter) {
    return ask<methods::ShowDot>(std::int32_t{x}, std::int32_t{y}, std::int32_t{diameter})
        .has_value();
}

bool BridgeConnection::hideDot() {
    return ask<methods::HideDot>().has_value();
}

bool BridgeConnection::setIndicator(const std::vector<std::uint8_t>& icon,
                                    const std::string& tooltip,
                                    const std::vector<IndicatorItem>& items) {
    return ask<methods::SetIndicator>(icon, tooltip, items).has_value();
}

bool BridgeConnection::clearIndicator() {
    return ask<methods::ClearIndicator>().has_value();
}

std::optional<std::string> BridgeConnection::shellVersion() {
    sd_bus_message* reply =
        callShell("org.freedesktop.DBus.Properties", "Get", "ss", shellName, "ShellVersion");
    const char* version = nullptr;
    std::optional<std::string> answer;
    if (reply && sd_bus_message_read(reply, "v", "s", &version) >= 0 && version) {
        answer = bounded(version, maxWordLength);
    }
    sd_bus_message_unref(reply);
    return answer;
}

std::optional<ShellExtensionInfo> BridgeConnection::extensionInfo(const std::string& uuid) {
    sd_bus_message* reply =
        callShell(shellExtensionsInterface, "GetExtensionInfo", "s", uuid.c_str());
    auto info = reply ? readExtensionInfo(reply) : std::nullopt;
    sd_bus_message_unref(reply);
    return info;
}

bool BridgeConnection::enableExtension(const std::string& uuid) {
    sd_bus_message* reply =
        callShell(shellExtensionsInterface, "EnableExtension", "s", uuid.c_str());
    int enabled = 0;
    const bool ok = reply && sd_bus_message_read(reply, "b", &enabled) >= 0 && enabled;
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

// Each call of the bridge: nothing goes to a bridge not believed to be the shell's, and an
// answer is read only when it came from that bridge.
template <class M, class... Arguments>
std::optional<typename M::Reply> BridgeConnection::ask(const Arguments&... arguments) {
    if (trustedOwner().empty()) {
        return std::nullopt;
    }
    sd_bus* bus = callBus();
    sd_bus_message* call = nullptr;
    if (!bus || sd_bus_message_new_method_call(bus, &call, busName, objectPath, interfaceName,
                                               M::name) < 0) {
        return std::nullopt;
    }
    std::optional<typename M::Reply> answer;
    sd_bus_message* reply = nullptr;
    if (bridge1::appendArguments<M>(call, arguments...) >= 0 &&
        sd_bus_call(bus, call, callTimeoutMicroseconds, nullptr, &reply) >= 0) {
        reply = fromTrustedOwner(reply);
        if (reply) {
            answer = bridge1::readReply<M>(reply);
        }
    }
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    return answer;
}

sd_bus_message* BridgeConnection::callShell(const char* interface, const char* member,
                                            const char* types, ...) {
    sd_bus* bus = callBus();
    if (!bus) {
        return nullptr;
    }
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_message_new_method_call(bus, &call, shellName, shellPath, interface, member);
    if (r >= 0) {
        va_list arguments;
        va_start(arguments, types);
        r = sd_bus_message_appendv(call, types, arguments);
        va_end(arguments);
    }
    if (r >= 0) {
        r = sd_bus_call(bus, call, callTimeoutMicroseconds, nullptr, &reply);
    }
    sd_bus_message_unref(call);
    return r >= 0 ? reply : nullptr;
}

bool BridgeConnection::watchInput(unsigned milliseconds) {
    inputInterval_ = milliseconds;
    return ask<methods::WatchInput>(std::uint32_t{milliseconds}).has_value();
}

} // namespace orvane::linuxbackend
