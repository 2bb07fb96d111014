#include "backends/linux/wayland/kwin/KWinCommandChannel.hpp"

#include "backends/linux/BackendLog.hpp"
#include "backends/linux/wayland/kwin/KWinLink.hpp"

#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace orvane::linuxbackend {
namespace {

// Dropped messages logged, at most: a script gone wrong must not fill the log.
// Answers nobody waited for (timed out) must not pile up.
constexpr std::size_t keptAnswers = 64;

double nowMilliseconds() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

const char* argument(sd_bus_message* m) {
    const char* text = nullptr;
    return sd_bus_message_read(m, "s", &text) >= 0 && text ? text : nullptr;
}

} // namespace

const KWinCommandChannel::Entry KWinCommandChannel::methods[7] = {
    {"Hello", "ss", &KWinCommandChannel::onHello},
    {"Outputs", "ss", &KWinCommandChannel::onOutputs},
    {"Windows", "ss", &KWinCommandChannel::onWindows},
    {"Active", "ss", &KWinCommandChannel::onActive},
    {"Cursor", "ss", &KWinCommandChannel::onCursor},
    {"Done", "ss", &KWinCommandChannel::onDone},
    {"NextCommand", "s", &KWinCommandChannel::onNextCommand},
};

KWinCommandChannel::KWinCommandChannel(BusConnection& bus, BusLoop& loop, KWinLinkState& state,
                                       const KWinScriptHost& host)
    : bus_(bus), loop_(loop), state_(state), host_(host),
      hold_(loop, [this] { answer(KWinScriptMessages::noCommand()); }) {}

KWinCommandChannel::~KWinCommandChannel() {
    release();
    object_ = sd_bus_slot_unref(object_);
}

int KWinCommandChannel::serve() {
    // Every call to the object passes one gate: KWin, with this run's key.
    return sd_bus_add_object(bus_.bus(), &object_, KWinLink::objectPath,
                             &KWinCommandChannel::onCall, this);
}

void KWinCommandChannel::deliver() {
    if (!poll_) {
        return;
    }
    std::string command;
    {
        std::lock_guard lock(state_.mutex);
        if (state_.commands.empty()) {
            return;
        }
        command = std::move(state_.commands.front());
        state_.commands.pop_front();
    }
    answer(command);
}

void KWinCommandChannel::restart() {
    helloSeen_ = outputsSeen_ = windowsSeen_ = false;
}

void KWinCommandChannel::release() {
    poll_ = sd_bus_message_unref(poll_);
    hold_.cancel();
}

bool KWinCommandChannel::isSilent(std::uint64_t microseconds) const {
    return !poll_ && loop_.now() > lastAnswer_ + microseconds;
}

void KWinCommandChannel::heard() {
    lastAnswer_ = loop_.now();
}

void KWinCommandChannel::answer(const std::string& command) {
    if (!poll_) {
        return;
    }
    sd_bus_reply_method_return(poll_, "s", command.c_str());
    heard();
    release();
}

// Whether a call comes from the KWin whose script we loaded and carries this run's key (read
// off the call): nobody else may feed us. The first refusal is logged.
bool KWinCommandChannel::admits(sd_bus_message* m) {
    const char* sender = sd_bus_message_get_sender(m);
    const char* signature = sd_bus_message_get_signature(m, 1);
    const char* key = nullptr;
    const std::string& kwin = host_.kwinOwner();
    const bool fromKWin = sender && !kwin.empty() && kwin == sender;
    const bool keyed = signature && signature[0] == 's' && sd_bus_message_read(m, "s", &key) >= 0 &&
                       key && sameKey(key, host_.key());
    if (fromKWin && keyed) {
        return true;
    }
    if (!refusalLogged_) {
        refusalLogged_ = true;
        logInfo(std::string("refused a call to Orvane's KWin bridge from ") +
                (sender ? sender : "nobody") +
                (fromKWin ? ": it lacks this run's key" : ": it is not KWin") +
                " (further refusals are not logged)");
    }
    return false;
}

void KWinCommandChannel::dropped(const char* member, const std::string& problem) {
    dropped_.say(std::string("dropped KWin's ") + member + " message: " + problem);
}

int KWinCommandChannel::onCall(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    if (!sd_bus_message_is_method_call(m, nullptr, nullptr)) {
        return 0;
    }
    auto& channel = *static_cast<KWinCommandChannel*>(userdata);
    if (!channel.admits(m)) {
        return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED,
                                "only Orvane's KWin script may call this");
    }
    const char* interface = sd_bus_message_get_interface(m);
    const char* member = sd_bus_message_get_member(m);
    const char* signature = sd_bus_message_get_signature(m, 1);
    for (const auto& method : methods) {
        if (interface && member && std::strcmp(interface, KWinLink::interfaceName) == 0 &&
            std::strcmp(member, method.member) == 0) {
            if (!signature || std::strcmp(signature, method.signature) != 0) {
                return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS,
                                        "not the arguments of this method");
            }
            return (channel.*method.handler)(m);
        }
    }
    return sd_bus_error_set(error, SD_BUS_ERROR_UNKNOWN_METHOD, "no such method");
}

void KWinCommandChannel::maybeReady() {
    if (!helloSeen_ || !outputsSeen_ || !windowsSeen_ || state_.isReady()) {
        return;
    }
    {
        std::lock_guard lock(state_.mutex);
        state_.snapshot.ready = true;
        if (state_.inputInterval > 0) {
            state_.commands.push_back(
                KWinScriptMessages::watchCommand(state_.nextSerial++, state_.inputInterval));
        }
    }
    deliver();
    state_.post({CompositorEvent::Kind::ready});
    state_.markSettled();
}

int KWinCommandChannel::onHello(sd_bus_message* m) {
    const char* text = argument(m);
    std::string problem = "no text";
    const auto hello = text ? KWinScriptMessages::parseHello(text, &problem) : std::nullopt;
    if (!hello) {
        dropped("Hello", problem);
    }
    // Read once: GCC's -O3 takes later reads through the optional for uninitialised ones.
    const unsigned spoken = hello ? hello->version : 0;
    const bool wasReady = state_.isReady();
    restart();
    release();
    {
        std::lock_guard lock(state_.mutex);
        auto& s = state_.snapshot;
        const std::string version = s.compositorVersion;
        const bool overview = s.overviewActive;
        s = CompositorSnapshot{};
        s.present = true;
        s.compositorVersion = version;
        s.overviewActive = overview;
        s.version = hello ? std::optional<unsigned>(spoken) : std::nullopt;
    }
    if (wasReady) {
        state_.post({CompositorEvent::Kind::vanished});
    }
    if (!hello || spoken != KWinLink::version) {
        const std::string said = hello ? std::to_string(spoken) : "no";
        logInfo("Orvane's KWin script speaks version " + said + ", and Orvane speaks " +
                std::to_string(KWinLink::version) + ": it is not used");
        state_.setProblem("the KWin script speaks another version");
        state_.post({CompositorEvent::Kind::refused});
        state_.markSettled();
    } else {
        helloSeen_ = true;
    }
    return sd_bus_reply_method_return(m, "");
}

int KWinCommandChannel::onOutputs(sd_bus_message* m) {
    const char* text = argument(m);
    std::string problem = "no text";
    auto outputs = text ? KWinScriptMessages::parseOutputs(text, &problem) : std::nullopt;
    if (!outputs) {
        dropped("Outputs", problem);
    }
    if (accepting() && outputs) {
        auto shared = std::make_shared<const std::vector<CompositorMonitor>>(std::move(*outputs));
        {
            std::lock_guard lock(state_.mutex);
            state_.snapshot.monitors = shared;
        }
        outputsSeen_ = true;
        if (state_.isReady()) {
            state_.post({CompositorEvent::Kind::monitorsChanged});
        }
        maybeReady();
    }
    return sd_bus_reply_method_return(m, "");
}

int KWinCommandChannel::onWindows(sd_bus_message* m) {
    const char* text = argument(m);
    std::string problem = "no text";
    auto windows = text ? KWinScriptMessages::parseWindows(text, &problem) : std::nullopt;
    if (!windows) {
        dropped("Windows", problem);
    }
    if (accepting() && windows) {
        std::vector<CompositorWindow> list;
        std::vector<std::string> live;
        {
            std::lock_guard lock(state_.mutex);
            const int monitors =
                state_.snapshot.monitors ? int(state_.snapshot.monitors->size()) : 0;
            for (const auto& window : *windows) {
                CompositorWindow entry;
                entry.id = state_.ids.idFor(window.id);
                entry.pid = window.pid;
                entry.applicationId = window.resourceClass;
                entry.title = window.caption;
                entry.type = KWinScriptMessages::windowType(window.flags);
                entry.frame = window.frame;
                entry.buffer = window.buffer;
                entry.monitor = window.output < monitors ? window.output : -1;
                entry.above = window.keepAbove;
                entry.minimized = window.minimized;
                list.push_back(std::move(entry));
                live.push_back(window.id);
            }
            state_.ids.keepOnly(live);
            state_.snapshot.windows =
                std::make_shared<const std::vector<CompositorWindow>>(std::move(list));
        }
        windowsSeen_ = true;
        if (state_.isReady()) {
            state_.post({CompositorEvent::Kind::windowsChanged});
        }
        maybeReady();
    }
    return sd_bus_reply_method_return(m, "");
}

// The id of a window KWin names: 0 for none, and for one not listed yet a number it then
// keeps.
std::uint64_t KWinCommandChannel::idOfLocked(const std::string& uuid) {
    return uuid.empty() ? 0 : state_.ids.idFor(uuid);
}

int KWinCommandChannel::onActive(sd_bus_message* m) {
    const char* text = argument(m);
    const auto active = text ? KWinScriptMessages::parseActive(text) : std::nullopt;
    if (!active) {
        dropped("Active", "not a window id");
    }
    if (accepting() && active) {
        bool changed = false;
        {
            std::lock_guard lock(state_.mutex);
            const auto id = idOfLocked(*active);
            changed = state_.snapshot.focusWindow != id;
            state_.snapshot.focusWindow = id;
        }
        if (changed && state_.isReady()) {
            state_.post({CompositorEvent::Kind::focusChanged});
        }
    }
    return sd_bus_reply_method_return(m, "");
}

int KWinCommandChannel::onCursor(sd_bus_message* m) {
    const char* text = argument(m);
    std::string problem = "no text";
    const auto point = text ? KWinScriptMessages::parseCursor(text, &problem) : std::nullopt;
    if (!point) {
        dropped("Cursor", problem);
    }
    if (accepting() && point) {
        CompositorEvent event{CompositorEvent::Kind::input};
        event.input.x = static_cast<int>(point->x);
        event.input.y = static_cast<int>(point->y);
        event.input.receivedAtMilliseconds = nowMilliseconds();
        const bool ready = state_.isReady();
        // Under the lock, so that whoever sees the sample in the snapshot finds its event
        // queued.
        std::lock_guard lock(state_.mutex);
        state_.snapshot.input = event.input;
        if (ready) {
            state_.post(std::move(event));
        }
    }
    return sd_bus_reply_method_return(m, "");
}

int KWinCommandChannel::onDone(sd_bus_message* m) {
    const char* text = argument(m);
    std::string problem = "no text";
    const auto done = text ? KWinScriptMessages::parseDone(text, &problem) : std::nullopt;
    if (!done) {
        dropped("Done", problem);
    }
    if (done) {
        bool focusChanged = false;
        {
            std::lock_guard lock(state_.mutex);
            auto& s = state_.snapshot;
            const auto id = idOfLocked(done->active);
            focusChanged = s.focusWindow != id;
            s.focusWindow = id;
            if (s.input) {
                s.input->x = done->x;
                s.input->y = done->y;
            }
            state_.done[done->serial] = *done;
            while (state_.done.size() > keptAnswers) {
                state_.done.erase(state_.done.begin());
            }
        }
        state_.changed.notify_all();
        if (focusChanged && state_.isReady()) {
            state_.post({CompositorEvent::Kind::focusChanged});
        }
    }
    return sd_bus_reply_method_return(m, "");
}

int KWinCommandChannel::onNextCommand(sd_bus_message* m) {
    answer(KWinScriptMessages::noCommand()); // a script poll is never held twice
    poll_ = sd_bus_message_ref(m);
    hold_.once(KWinLink::pollHoldMicroseconds);
    deliver();
    return 1; // answered later
}

} // namespace orvane::linuxbackend
