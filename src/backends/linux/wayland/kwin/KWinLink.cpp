#include "backends/linux/wayland/kwin/KWinLink.hpp"

#include "backends/linux/WorkerWakeUp.hpp"
#include "backends/linux/wayland/kwin/KWinBridgeScript.hpp"
#include "backends/linux/wayland/kwin/KWinScriptFile.hpp"
#include "orvane/platform/Platform.hpp"

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <map>
#include <set>
#include <sys/epoll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

constexpr const char* kwinService = "org.kde.KWin";
constexpr const char* accelService = "org.kde.kglobalaccel";
constexpr const char* accelInterface = "org.kde.KGlobalAccel";
// kglobalaccel's flags: the shortcut is in use now, and is the one given, not the one a
// config may hold from an earlier run.
constexpr std::uint32_t accelSetPresent = 2;
constexpr std::uint32_t accelNoAutoloading = 4;
constexpr auto shortcutTimeout = std::chrono::seconds(3);
constexpr std::uint64_t kwinCallTimeout = 2'000'000;
constexpr std::uint64_t effectsInterval = 1'000'000;
constexpr std::uint64_t loadRetryInterval = 100'000;
constexpr int maxLoadAttempts = 200;
// The script asks again at once after each answer; this long without a question, it is gone
// (KWin dropped it, or it took Orvane for gone) and is loaded again.
constexpr std::uint64_t scriptSilence = KWinLink::pollHoldMicroseconds + 5'000'000;
// Dropped messages logged, at most: a script gone wrong must not fill the log.
constexpr unsigned droppedLogLimit = 10;
// What an earlier Orvane called its script, which served whoever owned Orvane's bus name.
constexpr const char* unkeyedPluginName = "orvane-bridge";
// The effects that show every window to pick one from: a switch under them would be lost.
const std::set<std::string> overviewEffects = {"overview", "windowview", "desktopgrid",
                                               "presentwindows", "expo"};

void logInfo(const std::string& text) {
    if (auto sink = currentLogSink()) {
        sink->write(LogLevel::info, kApplicationIdentifier, "core", text);
    }
}

double nowMilliseconds() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

// The worker's state: its connection, KWin's owner, the script's standing call. Created, used
// and destroyed on the worker thread only.
class KWinLoop {
public:
    KWinLoop(KWinLink& owner, sd_event* event) : owner_(owner), event_(event) {}

    ~KWinLoop() {
        // Left inactive, as KDE's programs leave theirs: listed in the settings, not grabbed.
        if (bus_ && sd_bus_is_open(bus_) > 0) {
            for (const auto& [action, shortcut] : shortcuts_) {
                sd_bus_message_unref(callAccel("setInactive", action, nullptr));
            }
        }
        shortcutSlot_ = sd_bus_slot_unref(shortcutSlot_);
        unload();
        releasePoll();
        // A call still on its way holds the connection: it would never be freed.
        effectsSlot_ = sd_bus_slot_unref(effectsSlot_);
        effectsTimer_ = sd_event_source_unref(effectsTimer_);
        pollTimer_ = sd_event_source_unref(pollTimer_);
        retryTimer_ = sd_event_source_unref(retryTimer_);
        objectSlot_ = sd_bus_slot_unref(objectSlot_);
        bus_ = sd_bus_flush_close_unref(bus_);
    }
    KWinLoop(const KWinLoop&) = delete;
    KWinLoop& operator=(const KWinLoop&) = delete;

    bool start() {
        int r = sd_bus_open_user(&bus_);
        if (r >= 0) {
            r = sd_bus_set_close_on_exit(bus_, 0);
        }
        if (r >= 0) {
            r = sd_bus_attach_event(bus_, event_, SD_EVENT_PRIORITY_NORMAL);
        }
        if (r >= 0) {
            // Every call to the object passes one gate: KWin, with this run's key.
            r = sd_bus_add_object(bus_, &objectSlot_, KWinLink::objectPath, &KWinLoop::onCall,
                                  this);
        }
        const char* unique = nullptr;
        if (r >= 0) {
            r = sd_bus_get_unique_name(bus_, &unique);
        }
        if (r < 0) {
            return fail(std::string("the session bus is unavailable (") + std::strerror(-r) + ")");
        }
        r = sd_bus_request_name(bus_, KWinLink::busName, 0);
        if (r < 0) {
            return fail(std::string("cannot own ") + KWinLink::busName + " (" + std::strerror(-r) +
                        "): is another Orvane running?");
        }
        const auto key = randomKey();
        if (!key) {
            return fail("no random numbers for the KWin script's key");
        }
        key_ = *key;
        std::string plugin = std::string(KWinLink::pluginStem) + "-" + unique;
        std::erase(plugin, ':');
        const auto script = kwinScriptFor(kwinBridgeScript, unique, key_, plugin);
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        std::string problem = "the KWin script has no place for Orvane's connection";
        if (script) {
            file_ = KWinScriptFile::create(*script, runtime ? runtime : "", &problem);
        }
        if (!file_) {
            return fail(problem);
        }
        pluginName_ = plugin;
        {
            std::lock_guard lock(owner_.mutex_);
            owner_.pluginName_ = plugin;
            owner_.scriptFile_ = file_->path();
        }
        sd_bus_match_signal(bus_, nullptr, "org.freedesktop.DBus.Local",
                            "/org/freedesktop/DBus/Local", "org.freedesktop.DBus.Local",
                            "Disconnected", &KWinLoop::onDisconnected, this);
        sd_bus_match_signal(bus_, nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus", "NameOwnerChanged",
                            &KWinLoop::onNameOwnerChanged, this);
        sd_event_add_time_relative(event_, &effectsTimer_, CLOCK_MONOTONIC, effectsInterval, 0,
                                   &KWinLoop::onEffectsTimer, this);
        sd_event_source_set_enabled(effectsTimer_, SD_EVENT_OFF);
        const char* kwinOwner = nullptr;
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "GetNameOwner", nullptr, &reply, "s",
                               kwinService) >= 0 &&
            sd_bus_message_read(reply, "s", &kwinOwner) >= 0 && kwinOwner) {
            attach(kwinOwner);
        } else {
            setProblem("KWin is not on the session bus");
            owner_.markSettled();
        }
        sd_bus_message_unref(reply);
        return true;
    }

    // A command was queued: hand it over if the script is waiting.
    void deliver() {
        if (!poll_) {
            return;
        }
        std::string command;
        {
            std::lock_guard lock(owner_.mutex_);
            if (owner_.commands_.empty()) {
                return;
            }
            command = std::move(owner_.commands_.front());
            owner_.commands_.pop_front();
        }
        answerPoll(command);
    }

    void runTasks() {
        std::deque<std::function<void(KWinLoop&)>> tasks;
        {
            std::lock_guard lock(owner_.mutex_);
            tasks.swap(owner_.tasks_);
        }
        for (auto& task : tasks) {
            task(*this);
        }
    }

    std::optional<int> bindShortcut(const std::string& action, const std::string& text, int keys) {
        shortcuts_[action] = {text, keys};
        return registerShortcut(action);
    }

    void unbindShortcut(const std::string& action) {
        if (!shortcuts_.contains(action)) {
            return;
        }
        sd_bus_message_unref(callAccel("setInactive", action, nullptr));
        sd_bus_message* reply = nullptr;
        sd_bus_call_method(bus_, accelService, "/kglobalaccel", accelInterface, "unregister",
                           nullptr, &reply, "ss", KWinLink::shortcutComponent, action.c_str());
        sd_bus_message_unref(reply);
        shortcuts_.erase(action);
        if (shortcuts_.empty()) {
            shortcutSlot_ = sd_bus_slot_unref(shortcutSlot_);
        }
    }

    std::vector<std::string> shortcutOwners(int keys) {
        std::vector<std::string> owners;
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(bus_, accelService, "/kglobalaccel", accelInterface,
                               "getGlobalShortcutsByKey", nullptr, &reply, "i", keys) < 0) {
            return owners;
        }
        // KGlobalShortcutInfo: context, its name, component, its name, action, its name, keys,
        // default keys.
        if (sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "(ssssssaiai)") > 0) {
            while (sd_bus_message_enter_container(reply, SD_BUS_TYPE_STRUCT, "ssssssaiai") > 0) {
                const char* fields[6] = {};
                if (sd_bus_message_read(reply, "ssssss", &fields[0], &fields[1], &fields[2],
                                        &fields[3], &fields[4], &fields[5]) < 0) {
                    break;
                }
                if (std::strcmp(fields[2], KWinLink::shortcutComponent) != 0) {
                    owners.push_back(std::string(fields[3]) + ": " + fields[5]);
                }
                sd_bus_message_skip(reply, "aiai");
                sd_bus_message_exit_container(reply);
            }
        }
        sd_bus_message_unref(reply);
        return owners;
    }

private:
    struct Shortcut {
        std::string text;
        int keys = 0;
    };

    // Calls kglobalaccel with the action's id and, for setShortcut, its keys.
    sd_bus_message* callAccel(const char* member, const std::string& action, const int* keys) {
        const auto found = shortcuts_.find(action);
        const std::string text = found != shortcuts_.end() ? found->second.text : action;
        sd_bus_message* call = nullptr;
        sd_bus_message* reply = nullptr;
        int r = sd_bus_message_new_method_call(bus_, &call, accelService, "/kglobalaccel",
                                               accelInterface, member);
        if (r >= 0) {
            r = sd_bus_message_append(call, "as", 4, KWinLink::shortcutComponent, action.c_str(),
                                      "Orvane", text.c_str());
        }
        if (r >= 0 && keys) {
            r = sd_bus_message_append(call, "aiu", 1, *keys, accelSetPresent | accelNoAutoloading);
        }
        if (r >= 0) {
            r = sd_bus_call(bus_, call, kwinCallTimeout, nullptr, &reply);
        }
        sd_bus_message_unref(call);
        return r >= 0 ? reply : nullptr;
    }

    // The keys kglobalaccel gave the action: 0 when another has them; nullopt unanswered.
    std::optional<int> registerShortcut(const std::string& action) {
        const int keys = shortcuts_.at(action).keys;
        sd_bus_message* registered = callAccel("doRegister", action, nullptr);
        if (!registered) {
            return std::nullopt;
        }
        sd_bus_message_unref(registered);
        sd_bus_message* reply = callAccel("setShortcut", action, &keys);
        if (!reply) {
            return std::nullopt;
        }
        const void* given = nullptr;
        std::size_t size = 0;
        int first = 0;
        if (sd_bus_message_read_array(reply, 'i', &given, &size) >= 0 && size >= sizeof(int)) {
            std::memcpy(&first, given, sizeof first);
        }
        sd_bus_message_unref(reply);
        followShortcuts();
        return first;
    }

    // Hears the presses of Orvane's shortcuts, on the object kglobalaccel keeps for them.
    void followShortcuts() {
        if (shortcutSlot_) {
            return;
        }
        sd_bus_message* reply = nullptr;
        const char* path = nullptr;
        if (sd_bus_call_method(bus_, accelService, "/kglobalaccel", accelInterface, "getComponent",
                               nullptr, &reply, "s", KWinLink::shortcutComponent) >= 0 &&
            sd_bus_message_read(reply, "o", &path) >= 0 && path) {
            sd_bus_match_signal(bus_, &shortcutSlot_, accelService, path,
                                "org.kde.kglobalaccel.Component", "globalShortcutPressed",
                                &KWinLoop::onShortcutPressed, this);
        }
        sd_bus_message_unref(reply);
    }

    static int onShortcutPressed(sd_bus_message* m, void* userdata, sd_bus_error*) {
        KWinLoop& loop = of(userdata);
        const char* component = nullptr;
        const char* action = nullptr;
        std::int64_t timestamp = 0;
        if (sd_bus_message_read(m, "ssx", &component, &action, &timestamp) < 0 ||
            std::strcmp(component, KWinLink::shortcutComponent) != 0 ||
            !loop.shortcuts_.contains(action)) {
            return 0;
        }
        CompositorEvent event{CompositorEvent::Kind::acceleratorActivated};
        event.id = action;
        loop.owner_.post(std::move(event));
        return 0;
    }

    // KWin's shortcuts came (back): they remember nothing of ours.
    void shortcutsArrived() {
        shortcutSlot_ = sd_bus_slot_unref(shortcutSlot_);
        for (const auto& [action, shortcut] : shortcuts_) {
            const auto given = registerShortcut(action);
            if (given && *given != shortcut.keys) {
                logInfo("KWin's shortcuts did not give Orvane its shortcut " + shortcut.text +
                        ": another program has it");
            }
        }
    }

    static KWinLoop& of(void* userdata) { return *static_cast<KWinLoop*>(userdata); }

    bool fail(const std::string& problem) {
        setProblem(problem);
        logInfo("KWin is not reached: " + problem);
        owner_.markSettled();
        return false;
    }

    void setProblem(const std::string& problem) {
        std::lock_guard lock(owner_.mutex_);
        owner_.problem_ = problem;
    }

    sd_bus_message* callKWin(const char* path, const char* interface, const char* member,
                             const char* types, const char* argument) {
        sd_bus_message* reply = nullptr;
        sd_bus_message* call = nullptr;
        int r = sd_bus_message_new_method_call(bus_, &call, kwinService, path, interface, member);
        if (r >= 0 && types) {
            r = sd_bus_message_append(call, types, argument);
        }
        if (r >= 0) {
            r = sd_bus_call(bus_, call, kwinCallTimeout, nullptr, &reply);
        }
        sd_bus_message_unref(call);
        return r >= 0 ? reply : nullptr;
    }

    // Loads the script into KWin (an earlier copy of this run's goes first, and one an earlier
    // Orvane left that served whoever owned its bus name).
    void attach(const std::string& kwinOwner) {
        kwinOwner_ = kwinOwner;
        helloSeen_ = outputsSeen_ = windowsSeen_ = false;
        {
            std::lock_guard lock(owner_.mutex_);
            owner_.snapshot_ = CompositorSnapshot{};
            owner_.snapshot_.present = true;
            owner_.scriptLoaded_ = false;
            owner_.ids_.clear();
        }
        for (const char* name : {pluginName_.c_str(), unkeyedPluginName}) {
            sd_bus_message_unref(
                callKWin("/Scripting", "org.kde.kwin.Scripting", "unloadScript", "s", name));
        }
        sd_bus_message* reply = nullptr;
        sd_bus_message* call = nullptr;
        int id = -1;
        int r = sd_bus_message_new_method_call(bus_, &call, kwinService, "/Scripting",
                                               "org.kde.kwin.Scripting", "loadScript");
        if (r >= 0) {
            r = sd_bus_message_append(call, "ss", file_->path().c_str(), pluginName_.c_str());
        }
        if (r >= 0) {
            r = sd_bus_call(bus_, call, kwinCallTimeout, nullptr, &reply);
        }
        if (r >= 0) {
            r = sd_bus_message_read(reply, "i", &id);
        }
        sd_bus_message_unref(call);
        sd_bus_message_unref(reply);
        if (r < 0 || id < 0) {
            // A KWin just started owns its name a moment before its scripting is there.
            if (++loadAttempts_ < maxLoadAttempts) {
                retryLoad();
                return;
            }
            setProblem("KWin did not load Orvane's script (" + file_->path() + ")");
            logInfo("KWin did not load Orvane's script " + file_->path());
            owner_.markSettled();
            return;
        }
        loadAttempts_ = 0;
        const std::string path = "/Scripting/Script" + std::to_string(id);
        reply = callKWin(path.c_str(), "org.kde.kwin.Script", "run", nullptr, nullptr);
        if (!reply) {
            reply = callKWin("/Scripting", "org.kde.kwin.Scripting", "start", nullptr, nullptr);
        }
        sd_bus_message_unref(reply);
        {
            std::lock_guard lock(owner_.mutex_);
            owner_.scriptLoaded_ = true;
            owner_.problem_.clear();
        }
        loaded_ = true;
        sd_event_now(event_, CLOCK_MONOTONIC, &lastAnswer_);
        // Asked at once, so that the version is known by the time the script's state is.
        if (sd_bus_message* info =
                callKWin("/KWin", "org.kde.KWin", "supportInformation", nullptr, nullptr)) {
            const char* text = nullptr;
            if (sd_bus_message_read(info, "s", &text) >= 0 && text) {
                std::lock_guard lock(owner_.mutex_);
                owner_.snapshot_.compositorVersion =
                    KWinScriptMessages::versionFromSupportInformation(text);
            }
            sd_bus_message_unref(info);
        }
        sd_event_source_set_enabled(effectsTimer_, SD_EVENT_ON);
    }

    void retryLoad() {
        std::uint64_t now = 0;
        sd_event_now(event_, CLOCK_MONOTONIC, &now);
        retryTimer_ = sd_event_source_unref(retryTimer_);
        sd_event_add_time(event_, &retryTimer_, CLOCK_MONOTONIC, now + loadRetryInterval, 0,
                          &KWinLoop::onRetryLoad, this);
    }

    static int onRetryLoad(sd_event_source*, std::uint64_t, void* userdata) {
        KWinLoop& loop = of(userdata);
        if (!loop.kwinOwner_.empty() && !loop.loaded_) {
            loop.attach(std::string(loop.kwinOwner_));
        }
        return 0;
    }

    void detach() {
        retryTimer_ = sd_event_source_unref(retryTimer_);
        loadAttempts_ = 0;
        const bool wasReady = owner_.snapshot().ready;
        kwinOwner_.clear();
        loaded_ = false;
        releasePoll();
        effectsSlot_ = sd_bus_slot_unref(effectsSlot_);
        sd_event_source_set_enabled(effectsTimer_, SD_EVENT_OFF);
        {
            std::lock_guard lock(owner_.mutex_);
            owner_.snapshot_ = CompositorSnapshot{};
            owner_.scriptLoaded_ = false;
            owner_.problem_ = "KWin left the session bus";
            owner_.commands_.clear();
        }
        if (wasReady) {
            owner_.post({CompositorEvent::Kind::vanished});
        }
    }

    void unload() {
        if (loaded_ && bus_ && sd_bus_is_open(bus_) > 0) {
            sd_bus_message_unref(callKWin("/Scripting", "org.kde.kwin.Scripting", "unloadScript",
                                          "s", pluginName_.c_str()));
        }
        loaded_ = false;
        file_.reset();
    }

    static int onEffectsTimer(sd_event_source* source, std::uint64_t, void* userdata) {
        KWinLoop& loop = of(userdata);
        std::uint64_t now = 0;
        sd_event_now(loop.event_, CLOCK_MONOTONIC, &now);
        sd_event_source_set_time(source, now + effectsInterval);
        if (loop.loaded_ && !loop.poll_ && now > loop.lastAnswer_ + scriptSilence) {
            logInfo("Orvane's KWin script stopped asking for commands: it is loaded again");
            const std::string kwin = loop.kwinOwner_;
            loop.detach();
            loop.attach(kwin);
            return 0;
        }
        if (!loop.effectsSlot_) {
            sd_bus_call_method_async(loop.bus_, &loop.effectsSlot_, kwinService, "/Effects",
                                     "org.freedesktop.DBus.Properties", "Get", &KWinLoop::onEffects,
                                     userdata, "ss", "org.kde.kwin.Effects", "activeEffects");
        }
        return 0;
    }

    static int onEffects(sd_bus_message* m, void* userdata, sd_bus_error*) {
        KWinLoop& loop = of(userdata);
        loop.effectsSlot_ = sd_bus_slot_unref(loop.effectsSlot_);
        if (sd_bus_message_is_method_error(m, nullptr) ||
            sd_bus_message_enter_container(m, SD_BUS_TYPE_VARIANT, "as") < 0) {
            return 0;
        }
        char** names = nullptr;
        if (sd_bus_message_read_strv(m, &names) < 0) {
            return 0;
        }
        bool active = false;
        for (char** name = names; name && *name; ++name) {
            active = active || overviewEffects.contains(*name);
            std::free(*name);
        }
        std::free(names);
        bool changed = false;
        {
            std::lock_guard lock(loop.owner_.mutex_);
            changed = loop.owner_.snapshot_.overviewActive != active;
            loop.owner_.snapshot_.overviewActive = active;
        }
        if (changed && loop.owner_.snapshot().ready) {
            loop.owner_.post({CompositorEvent::Kind::overviewChanged});
        }
        return 0;
    }

    void releasePoll() {
        poll_ = sd_bus_message_unref(poll_);
        if (pollTimer_) {
            sd_event_source_set_enabled(pollTimer_, SD_EVENT_OFF);
        }
    }

    void answerPoll(const std::string& command) {
        if (!poll_) {
            return;
        }
        sd_bus_reply_method_return(poll_, "s", command.c_str());
        sd_event_now(event_, CLOCK_MONOTONIC, &lastAnswer_);
        releasePoll();
    }

    static int onPollTimer(sd_event_source*, std::uint64_t, void* userdata) {
        of(userdata).answerPoll(KWinScriptMessages::noCommand());
        return 0;
    }

    // Whether a call comes from the KWin whose script we loaded and carries this run's key
    // (read off the call): nobody else may feed us. The first refusal is logged.
    bool admits(sd_bus_message* m) {
        const char* sender = sd_bus_message_get_sender(m);
        const char* signature = sd_bus_message_get_signature(m, 1);
        const char* key = nullptr;
        const bool fromKWin = sender && !kwinOwner_.empty() && kwinOwner_ == sender;
        const bool keyed = signature && signature[0] == 's' &&
                           sd_bus_message_read(m, "s", &key) >= 0 && key && sameKey(key, key_);
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

    // A message of the script's that cannot be used is dropped, and said so.
    void dropped(const char* member, const std::string& problem) {
        if (droppedLogged_ >= droppedLogLimit) {
            return;
        }
        ++droppedLogged_;
        logInfo(std::string("dropped KWin's ") + member + " message: " + problem +
                (droppedLogged_ == droppedLogLimit ? " (further ones are not logged)" : ""));
    }

    using Handler = int (*)(sd_bus_message*, void*, sd_bus_error*);
    struct Method {
        const char* member;
        const char* signature; // the key first
        Handler handler;
    };
    static const Method methods[7];

    static int onCall(sd_bus_message* m, void* userdata, sd_bus_error* error) {
        if (!sd_bus_message_is_method_call(m, nullptr, nullptr)) {
            return 0;
        }
        KWinLoop& loop = of(userdata);
        if (!loop.admits(m)) {
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
                return method.handler(m, userdata, error);
            }
        }
        return sd_bus_error_set(error, SD_BUS_ERROR_UNKNOWN_METHOD, "no such method");
    }

    static const char* argument(sd_bus_message* m) {
        const char* text = nullptr;
        return sd_bus_message_read(m, "s", &text) >= 0 && text ? text : nullptr;
    }

    void maybeReady() {
        if (!helloSeen_ || !outputsSeen_ || !windowsSeen_ || owner_.snapshot().ready) {
            return;
        }
        unsigned interval = 0;
        {
            std::lock_guard lock(owner_.mutex_);
            owner_.snapshot_.ready = true;
            interval = owner_.inputInterval_;
            if (interval > 0) {
                owner_.commands_.push_back(
                    KWinScriptMessages::watchCommand(owner_.nextSerial_++, interval));
            }
        }
        deliver();
        owner_.post({CompositorEvent::Kind::ready});
        owner_.markSettled();
    }

    static int onHello(sd_bus_message* m, void* userdata, sd_bus_error*) {
        KWinLoop& loop = of(userdata);
        const char* text = argument(m);
        std::string problem = "no text";
        const auto hello = text ? KWinScriptMessages::parseHello(text, &problem) : std::nullopt;
        if (!hello) {
            loop.dropped("Hello", problem);
        }
        const bool wasReady = loop.owner_.snapshot().ready;
        loop.helloSeen_ = loop.outputsSeen_ = loop.windowsSeen_ = false;
        loop.releasePoll();
        {
            std::lock_guard lock(loop.owner_.mutex_);
            auto& s = loop.owner_.snapshot_;
            const std::string version = s.compositorVersion;
            const bool overview = s.overviewActive;
            s = CompositorSnapshot{};
            s.present = true;
            s.compositorVersion = version;
            s.overviewActive = overview;
            s.version = hello ? std::optional<unsigned>(hello->version) : std::nullopt;
        }
        if (wasReady) {
            loop.owner_.post({CompositorEvent::Kind::vanished});
        }
        if (!hello || hello->version != KWinLink::version) {
            const std::string said = hello ? std::to_string(hello->version) : "no";
            logInfo("Orvane's KWin script speaks version " + said + ", and Orvane speaks " +
                    std::to_string(KWinLink::version) + ": it is not used");
            loop.setProblem("the KWin script speaks another version");
            loop.owner_.post({CompositorEvent::Kind::refused});
            loop.owner_.markSettled();
        } else {
            loop.helloSeen_ = true;
        }
        return sd_bus_reply_method_return(m, "");
    }

    bool accepting() const { return helloSeen_; }

    static int onOutputs(sd_bus_message* m, void* userdata, sd_bus_error*) {
        KWinLoop& loop = of(userdata);
        const char* text = argument(m);
        std::string problem = "no text";
        auto outputs = text ? KWinScriptMessages::parseOutputs(text, &problem) : std::nullopt;
        if (!outputs) {
            loop.dropped("Outputs", problem);
        }
        if (loop.accepting() && outputs) {
            auto shared =
                std::make_shared<const std::vector<CompositorMonitor>>(std::move(*outputs));
            {
                std::lock_guard lock(loop.owner_.mutex_);
                loop.owner_.snapshot_.monitors = shared;
            }
            loop.outputsSeen_ = true;
            if (loop.owner_.snapshot().ready) {
                loop.owner_.post({CompositorEvent::Kind::monitorsChanged});
            }
            loop.maybeReady();
        }
        return sd_bus_reply_method_return(m, "");
    }

    static int onWindows(sd_bus_message* m, void* userdata, sd_bus_error*) {
        KWinLoop& loop = of(userdata);
        const char* text = argument(m);
        std::string problem = "no text";
        auto windows = text ? KWinScriptMessages::parseWindows(text, &problem) : std::nullopt;
        if (!windows) {
            loop.dropped("Windows", problem);
        }
        if (loop.accepting() && windows) {
            std::vector<CompositorWindow> list;
            std::vector<std::string> live;
            {
                std::lock_guard lock(loop.owner_.mutex_);
                const int monitors = loop.owner_.snapshot_.monitors
                                         ? int(loop.owner_.snapshot_.monitors->size())
                                         : 0;
                for (const auto& window : *windows) {
                    CompositorWindow entry;
                    entry.id = loop.owner_.ids_.idFor(window.id);
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
                loop.owner_.ids_.keepOnly(live);
                loop.owner_.snapshot_.windows =
                    std::make_shared<const std::vector<CompositorWindow>>(std::move(list));
            }
            loop.windowsSeen_ = true;
            if (loop.owner_.snapshot().ready) {
                loop.owner_.post({CompositorEvent::Kind::windowsChanged});
            }
            loop.maybeReady();
        }
        return sd_bus_reply_method_return(m, "");
    }

    // The id of a window KWin names: 0 for none, and for one not listed yet a number it then
    // keeps.
    std::uint64_t idOfLocked(const std::string& uuid) {
        return uuid.empty() ? 0 : owner_.ids_.idFor(uuid);
    }

    static int onActive(sd_bus_message* m, void* userdata, sd_bus_error*) {
        KWinLoop& loop = of(userdata);
        const char* text = argument(m);
        const auto active = text ? KWinScriptMessages::parseActive(text) : std::nullopt;
        if (!active) {
            loop.dropped("Active", "not a window id");
        }
        if (loop.accepting() && active) {
            bool changed = false;
            {
                std::lock_guard lock(loop.owner_.mutex_);
                const auto id = loop.idOfLocked(*active);
                changed = loop.owner_.snapshot_.focusWindow != id;
                loop.owner_.snapshot_.focusWindow = id;
            }
            if (changed && loop.owner_.snapshot().ready) {
                loop.owner_.post({CompositorEvent::Kind::focusChanged});
            }
        }
        return sd_bus_reply_method_return(m, "");
    }

    static int onCursor(sd_bus_message* m, void* userdata, sd_bus_error*) {
        KWinLoop& loop = of(userdata);
        const char* text = argument(m);
        std::string problem = "no text";
        const auto point = text ? KWinScriptMessages::parseCursor(text, &problem) : std::nullopt;
        if (!point) {
            loop.dropped("Cursor", problem);
        }
        if (loop.accepting() && point) {
            CompositorEvent event{CompositorEvent::Kind::input};
            event.input.x = static_cast<int>(point->x);
            event.input.y = static_cast<int>(point->y);
            event.input.receivedAtMilliseconds = nowMilliseconds();
            const bool ready = loop.owner_.snapshot().ready;
            // Under the lock, so that whoever sees the sample in the snapshot finds its event
            // queued.
            std::lock_guard lock(loop.owner_.mutex_);
            loop.owner_.snapshot_.input = event.input;
            if (ready) {
                loop.owner_.post(std::move(event));
            }
        }
        return sd_bus_reply_method_return(m, "");
    }

    static int onDone(sd_bus_message* m, void* userdata, sd_bus_error*) {
        KWinLoop& loop = of(userdata);
        const char* text = argument(m);
        std::string problem = "no text";
        const auto done = text ? KWinScriptMessages::parseDone(text, &problem) : std::nullopt;
        if (!done) {
            loop.dropped("Done", problem);
        }
        if (done) {
            bool focusChanged = false;
            {
                std::lock_guard lock(loop.owner_.mutex_);
                auto& s = loop.owner_.snapshot_;
                const auto id = loop.idOfLocked(done->active);
                focusChanged = s.focusWindow != id;
                s.focusWindow = id;
                if (s.input) {
                    s.input->x = done->x;
                    s.input->y = done->y;
                }
                loop.owner_.done_[done->serial] = *done;
                // Answers nobody waited for (timed out) must not pile up.
                while (loop.owner_.done_.size() > 64) {
                    loop.owner_.done_.erase(loop.owner_.done_.begin());
                }
            }
            loop.owner_.changed_.notify_all();
            if (focusChanged && loop.owner_.snapshot().ready) {
                loop.owner_.post({CompositorEvent::Kind::focusChanged});
            }
        }
        return sd_bus_reply_method_return(m, "");
    }

    static int onNextCommand(sd_bus_message* m, void* userdata, sd_bus_error*) {
        KWinLoop& loop = of(userdata);
        loop.answerPoll(KWinScriptMessages::noCommand()); // a script poll is never held twice
        loop.poll_ = sd_bus_message_ref(m);
        std::uint64_t now = 0;
        sd_event_now(loop.event_, CLOCK_MONOTONIC, &now);
        if (!loop.pollTimer_) {
            sd_event_add_time(loop.event_, &loop.pollTimer_, CLOCK_MONOTONIC,
                              now + KWinLink::pollHoldMicroseconds, 0, &KWinLoop::onPollTimer,
                              userdata);
        } else {
            sd_event_source_set_time(loop.pollTimer_, now + KWinLink::pollHoldMicroseconds);
        }
        sd_event_source_set_enabled(loop.pollTimer_, SD_EVENT_ONESHOT);
        loop.deliver();
        return 1; // answered later
    }

    static int onNameOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
        const char* name = nullptr;
        const char* before = nullptr;
        const char* after = nullptr;
        if (sd_bus_message_read(m, "sss", &name, &before, &after) < 0) {
            return 0;
        }
        KWinLoop& loop = of(userdata);
        if (std::strcmp(name, accelService) == 0) {
            if (after && *after) {
                loop.shortcutsArrived();
            } else {
                loop.shortcutSlot_ = sd_bus_slot_unref(loop.shortcutSlot_);
            }
            return 0;
        }
        if (std::strcmp(name, kwinService) != 0) {
            return 0;
        }
        if (before && *before) {
            loop.detach();
        }
        if (after && *after) {
            loop.attach(after);
        }
        return 0;
    }

    static int onDisconnected(sd_bus_message*, void* userdata, sd_bus_error*) {
        KWinLoop& loop = of(userdata);
        logInfo("session bus connection lost: KWin is no longer reached");
        loop.detach();
        sd_event_exit(loop.event_, 0);
        return 0;
    }

    KWinLink& owner_;
    sd_event* event_;
    sd_bus* bus_ = nullptr;
    sd_bus_slot* objectSlot_ = nullptr;
    sd_bus_slot* effectsSlot_ = nullptr;
    sd_event_source* effectsTimer_ = nullptr;
    sd_event_source* pollTimer_ = nullptr;
    sd_event_source* retryTimer_ = nullptr;
    int loadAttempts_ = 0;
    sd_bus_message* poll_ = nullptr; // the script's standing NextCommand call
    sd_bus_slot* shortcutSlot_ = nullptr;
    std::map<std::string, Shortcut> shortcuts_;
    std::unique_ptr<KWinScriptFile> file_;
    std::string pluginName_;
    std::string key_; // this run's, which every call of the script carries
    std::uint64_t lastAnswer_ = 0;
    bool refusalLogged_ = false;
    unsigned droppedLogged_ = 0;
    std::string kwinOwner_; // the unique name of the KWin we loaded the script into
    bool loaded_ = false;
    bool helloSeen_ = false;
    bool outputsSeen_ = false;
    bool windowsSeen_ = false;
};

const KWinLoop::Method KWinLoop::methods[7] = {
    {"Hello", "ss", &KWinLoop::onHello},
    {"Outputs", "ss", &KWinLoop::onOutputs},
    {"Windows", "ss", &KWinLoop::onWindows},
    {"Active", "ss", &KWinLoop::onActive},
    {"Cursor", "ss", &KWinLoop::onCursor},
    {"Done", "ss", &KWinLoop::onDone},
    {"NextCommand", "s", &KWinLoop::onNextCommand},
};

namespace {

int onWake(sd_event_source* source, int, std::uint32_t, void*) {
    sd_event_exit(sd_event_source_get_event(source), 0);
    return 0;
}

int onCommandQueued(sd_event_source*, int fd, std::uint32_t, void* userdata) {
    std::uint64_t count = 0;
    [[maybe_unused]] auto n = ::read(fd, &count, sizeof count);
    auto* loop = static_cast<KWinLoop*>(userdata);
    loop->runTasks();
    loop->deliver();
    return 0;
}

} // namespace

KWinLink::KWinLink(std::shared_ptr<MainQueue> mainQueue) : mainQueue_(std::move(mainQueue)) {
    commandFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (commandFd_ < 0) {
        problem_ = std::string("cannot start: ") + std::strerror(errno);
        settled_ = true;
        return;
    }
    if (auto problem = startWithWakeUp(thread_, wakeFd_, [this] { run(); })) {
        problem_ = *problem;
        settled_ = true;
        logInfo("KWin is not reached: " + *problem);
    }
}

KWinLink::~KWinLink() {
    wakeJoinAndClose(thread_, wakeFd_);
    if (commandFd_ >= 0) {
        ::close(commandFd_);
    }
}

void KWinLink::run() {
    sd_event* event = nullptr;
    int r = sd_event_new(&event);
    if (r >= 0) {
        r = sd_event_add_io(event, nullptr, wakeFd_, EPOLLIN, &onWake, nullptr);
    }
    if (r < 0) {
        logInfo(std::string("KWin is not reached: ") + std::strerror(-r));
        sd_event_unref(event);
        markSettled();
        return;
    }
    {
        KWinLoop loop(*this, event);
        sd_event_source* commands = nullptr;
        sd_event_add_io(event, &commands, commandFd_, EPOLLIN, &onCommandQueued, &loop);
        if (loop.start()) {
            sd_event_loop(event);
        }
        sd_event_source_disable_unref(commands);
    }
    sd_event_unref(event);
}

CompositorSnapshot KWinLink::snapshot() const {
    std::lock_guard lock(mutex_);
    return snapshot_;
}

std::string KWinLink::pluginName() const {
    std::lock_guard lock(mutex_);
    return pluginName_;
}

std::string KWinLink::scriptFile() const {
    std::lock_guard lock(mutex_);
    return scriptFile_;
}

bool KWinLink::scriptLoaded() const {
    std::lock_guard lock(mutex_);
    return scriptLoaded_;
}

std::string KWinLink::problem() const {
    std::lock_guard lock(mutex_);
    return problem_;
}

void KWinLink::markSettled() {
    {
        std::lock_guard lock(mutex_);
        settled_ = true;
    }
    changed_.notify_all();
}

bool KWinLink::waitUntilSettled(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return settled_; });
}

std::shared_ptr<MainQueue> KWinLink::queue() const {
    if (mainQueue_) {
        return mainQueue_;
    }
    return hasPlatform() ? platform().mainQueue : nullptr;
}

void KWinLink::post(CompositorEvent event) {
    listeners_.post(queue(), std::move(event));
}

Subscription KWinLink::listen(std::function<void(const CompositorEvent&)> listener) {
    return listeners_.add(std::move(listener));
}

std::optional<KWinScriptDone>
KWinLink::command(const std::function<std::string(std::uint64_t)>& make, bool wait) {
    std::uint64_t serial = 0;
    {
        std::lock_guard lock(mutex_);
        if (!snapshot_.ready || commandFd_ < 0) {
            return std::nullopt;
        }
        serial = nextSerial_++;
        commands_.push_back(make(serial));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(commandFd_, &one, sizeof one);
    if (!wait) {
        return std::nullopt;
    }
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, commandTimeout, [&] { return done_.contains(serial); })) {
        // Not sent yet (the script never asked): it would only come late.
        const std::string text = make(serial);
        std::erase(commands_, text);
        return std::nullopt;
    }
    auto done = done_.extract(serial);
    return done.mapped();
}

std::optional<std::uint64_t> KWinLink::activateWindow(std::uint64_t id) {
    std::optional<std::string> uuid;
    {
        std::lock_guard lock(mutex_);
        uuid = ids_.uuidOf(id);
    }
    if (!uuid) {
        return std::nullopt;
    }
    const auto done = command(
        [&uuid](std::uint64_t serial) {
            return KWinScriptMessages::activateCommand(serial, *uuid);
        },
        true);
    if (!done) {
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    return done->active.empty() ? 0 : ids_.idFor(done->active);
}

bool KWinLink::onWorker(std::function<void(KWinLoop&)> task) {
    if (!thread_.joinable() || commandFd_ < 0) {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(commandFd_, &one, sizeof one);
    return true;
}

std::optional<int> KWinLink::bindShortcut(const std::string& action, const std::string& text,
                                          int qtKeys) {
    auto answer = std::make_shared<std::promise<std::optional<int>>>();
    auto future = answer->get_future();
    if (!onWorker([answer, action, text, qtKeys](KWinLoop& loop) {
            answer->set_value(loop.bindShortcut(action, text, qtKeys));
        }) ||
        future.wait_for(shortcutTimeout) != std::future_status::ready) {
        return std::nullopt;
    }
    return future.get();
}

std::vector<std::string> KWinLink::shortcutOwners(int qtKeys) {
    auto answer = std::make_shared<std::promise<std::vector<std::string>>>();
    auto future = answer->get_future();
    if (!onWorker(
            [answer, qtKeys](KWinLoop& loop) { answer->set_value(loop.shortcutOwners(qtKeys)); }) ||
        future.wait_for(shortcutTimeout) != std::future_status::ready) {
        return {};
    }
    return future.get();
}

void KWinLink::unbindShortcut(const std::string& action) {
    onWorker([action](KWinLoop& loop) { loop.unbindShortcut(action); });
}

bool KWinLink::warpPointer(int, int) {
    return false; // KWin gives scripts no way to move the cursor
}

std::optional<plinth::Point> KWinLink::queryPointer() {
    if (const auto done = command(KWinScriptMessages::cursorCommand, true)) {
        return plinth::Point{double(done->x), double(done->y)};
    }
    const auto s = snapshot();
    if (s.input) {
        return plinth::Point{double(s.input->x), double(s.input->y)};
    }
    return std::nullopt;
}

bool KWinLink::postKey(std::uint32_t, bool) {
    return false;
}

bool KWinLink::watchInput(unsigned milliseconds) {
    {
        std::lock_guard lock(mutex_);
        inputInterval_ = milliseconds;
    }
    command(
        [milliseconds](std::uint64_t serial) {
            return KWinScriptMessages::watchCommand(serial, milliseconds);
        },
        false);
    return true;
}

} // namespace orvane::linuxbackend
