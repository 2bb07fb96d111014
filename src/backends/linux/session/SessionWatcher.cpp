#include "backends/linux/session/SessionWatcher.hpp"

#include "backends/linux/WorkerWakeUp.hpp"
#include "orvane/platform/Platform.hpp"

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace orvane::linuxbackend {
namespace {

constexpr const char* loginService = "org.freedesktop.login1";
constexpr const char* loginPath = "/org/freedesktop/login1";
constexpr const char* managerInterface = "org.freedesktop.login1.Manager";
constexpr const char* sessionInterface = "org.freedesktop.login1.Session";

void logInfo(const std::string& text) {
    if (auto sink = currentLogSink()) {
        sink->write(LogLevel::info, kApplicationIdentifier, "core", text);
    }
}

std::string errnoText(int negativeError) {
    return std::strerror(-negativeError);
}

std::string errorText(const sd_bus_error* error) {
    if (error == nullptr || error->name == nullptr) {
        return "no answer";
    }
    std::string text = error->name;
    if (error->message != nullptr && *error->message != '\0') {
        text.append(": ").append(error->message);
    }
    return text;
}

class Loop;

// One bus connection as the loop sees it.
struct BusLink {
    Loop* loop = nullptr;
    const char* name = "";
    sd_bus* bus = nullptr;
};

// The state of the watcher's thread: both connections, the pending set-up steps and the lock
// state. Created, used and destroyed on that thread only.
class Loop {
public:
    Loop(const SessionWatcher::Report& report, const std::function<void()>& watching,
         sd_event* event)
        : report_(report), watching_(watching), event_(event) {
        system_.loop = this;
        system_.name = "system";
        session_.loop = this;
        session_.name = "session";
    }

    ~Loop() {
        // Floating slots and pending calls go with their connections, never called back.
        system_.bus = sd_bus_close_unref(system_.bus);
        session_.bus = sd_bus_close_unref(session_.bus);
    }

    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

    void start() {
        if (connect(system_, sd_bus_open_system,
                    "sleep, wake and the login session's lock are not watched")) {
            addSignalMatch(system_, loginService, loginPath, managerInterface, "PrepareForSleep",
                           &Loop::onPrepareForSleep);
            lookUpSession(Lookup::byPid);
        }
        if (connect(session_, sd_bus_open_user, "the screen saver's lock is not watched")) {
            addSignalMatch(session_, nullptr, nullptr, "org.freedesktop.ScreenSaver",
                           "ActiveChanged", &Loop::onActiveChanged);
            addSignalMatch(session_, nullptr, nullptr, "org.gnome.ScreenSaver", "ActiveChanged",
                           &Loop::onActiveChanged);
        }
        setUp_ = true;
        announceIfSetUp();
    }

    bool anyOpen() const { return isOpen(system_) || isOpen(session_); }

private:
    enum class Lookup { byPid, automatic, environment, none };

    static bool isOpen(const BusLink& link) {
        return link.bus != nullptr && sd_bus_is_open(link.bus) > 0;
    }

    bool connect(BusLink& link, int (*open)(sd_bus**), const char* consequence) {
        int r = open(&link.bus);
        if (r >= 0) {
            // Closed by us without a flush, so a stuck bus cannot hold up the stop.
            r = sd_bus_set_close_on_exit(link.bus, 0);
        }
        if (r >= 0) {
            r = sd_bus_attach_event(link.bus, event_, SD_EVENT_PRIORITY_NORMAL);
        }
        if (r >= 0) {
            // Synthesised locally when the connection ends; no match is sent to the bus.
            r = sd_bus_match_signal(link.bus, nullptr, "org.freedesktop.DBus.Local",
                                    "/org/freedesktop/DBus/Local", "org.freedesktop.DBus.Local",
                                    "Disconnected", &Loop::onDisconnected, &link);
        }
        if (r < 0) {
            link.bus = sd_bus_close_unref(link.bus);
            logInfo(std::string(link.name) + " bus unavailable (" + errnoText(r) +
                    "): " + consequence);
            return false;
        }
        return true;
    }

    void addSignalMatch(BusLink& link, const char* sender, const char* path, const char* interface,
                        const char* member, sd_bus_message_handler_t handler) {
        const int r = sd_bus_match_signal_async(link.bus, nullptr, sender, path, interface, member,
                                                handler, &Loop::onMatchInstalled, this);
        if (r < 0) {
            logInfo(std::string("cannot watch ") + interface + "." + member + " (" + errnoText(r) +
                    ")");
            return;
        }
        ++pending_;
    }

    void addMatch(BusLink& link, const std::string& match, sd_bus_message_handler_t handler) {
        const int r = sd_bus_add_match_async(link.bus, nullptr, match.c_str(), handler,
                                             &Loop::onMatchInstalled, this);
        if (r < 0) {
            logInfo("cannot watch " + match + " (" + errnoText(r) + ")");
            return;
        }
        ++pending_;
    }

    // This process's login session: by our pid, else logind's own guess for the caller, else
    // the session named in the environment.
    void lookUpSession(Lookup step) {
        int r = 0;
        switch (step) {
        case Lookup::byPid:
            r = sd_bus_call_method_async(system_.bus, nullptr, loginService, loginPath,
                                         managerInterface, "GetSessionByPID", &Loop::onSession,
                                         this, "u", static_cast<std::uint32_t>(getpid()));
            break;
        case Lookup::automatic:
            r = sd_bus_call_method_async(system_.bus, nullptr, loginService, loginPath,
                                         managerInterface, "GetSession", &Loop::onSession, this,
                                         "s", "auto");
            break;
        case Lookup::environment: {
            const char* id = std::getenv("XDG_SESSION_ID");
            if (id == nullptr || *id == '\0') {
                sessionNotFound();
                return;
            }
            r = sd_bus_call_method_async(system_.bus, nullptr, loginService, loginPath,
                                         managerInterface, "GetSession", &Loop::onSession, this,
                                         "s", id);
            break;
        }
        case Lookup::none:
            sessionNotFound();
            return;
        }
        lookup_ = step;
        if (r < 0) {
            noteLookupError(errnoText(r));
            lookUpSession(next(step));
            return;
        }
        ++pending_;
    }

    static Lookup next(Lookup step) {
        switch (step) {
        case Lookup::byPid:
            return Lookup::automatic;
        case Lookup::automatic:
            return Lookup::environment;
        default:
            return Lookup::none;
        }
    }

    void noteLookupError(std::string text) {
        if (!lookupError_) {
            lookupError_ = std::move(text);
        }
    }

    void sessionNotFound() {
        if (isOpen(system_)) {
            logInfo("no login session (" + lookupError_.value_or("none named") +
                    "): lock and unlock are watched through the screen saver only");
        }
    }

    void watchSession(const std::string& path) {
        addSignalMatch(system_, loginService, path.c_str(), sessionInterface, "Lock",
                       &Loop::onSessionLock);
        addSignalMatch(system_, loginService, path.c_str(), sessionInterface, "Unlock",
                       &Loop::onSessionUnlock);
        // Object paths hold only [A-Za-z0-9_/], so they need no escaping inside the quotes.
        addMatch(system_,
                 std::string("type='signal',sender='") + loginService + "',path='" + path +
                     "',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',"
                     "arg0='" +
                     sessionInterface + "'",
                 &Loop::onPropertiesChanged);
    }

    void finishStep() {
        --pending_;
        announceIfSetUp();
    }

    void announceIfSetUp() {
        if (setUp_ && pending_ == 0 && !announced_) {
            announced_ = true;
            if (watching_) {
                watching_();
            }
        }
    }

    void setLocked(bool locked) {
        if (locked == locked_) {
            return;
        }
        locked_ = locked;
        report_(locked ? WorkspaceEvent::screenLocked : WorkspaceEvent::screenUnlocked);
    }

    static Loop& of(void* userdata) { return *static_cast<Loop*>(userdata); }

    static int onMatchInstalled(sd_bus_message* m, void* userdata, sd_bus_error*) {
        Loop& loop = of(userdata);
        if (sd_bus_message_is_method_error(m, nullptr) &&
            sd_bus_is_open(sd_bus_message_get_bus(m)) > 0) {
            logInfo("a D-Bus match was refused (" + errorText(sd_bus_message_get_error(m)) + ")");
        }
        loop.finishStep();
        return 0;
    }

    static int onSession(sd_bus_message* m, void* userdata, sd_bus_error*) {
        Loop& loop = of(userdata);
        const char* path = nullptr;
        if (sd_bus_message_is_method_error(m, nullptr)) {
            loop.noteLookupError(errorText(sd_bus_message_get_error(m)));
            loop.lookUpSession(next(loop.lookup_));
        } else if (sd_bus_message_read(m, "o", &path) < 0) {
            loop.noteLookupError("an answer that is not an object path");
            loop.lookUpSession(next(loop.lookup_));
        } else {
            loop.watchSession(path);
        }
        loop.finishStep(); // after the next step is pending, so nothing is announced early
        return 0;
    }

    static int onDisconnected(sd_bus_message*, void* userdata, sd_bus_error*) {
        auto& link = *static_cast<BusLink*>(userdata);
        logInfo(std::string(link.name) + " bus connection lost: its sleep and lock signals are "
                                         "no longer watched");
        Loop& loop = *link.loop;
        if (!isOpen(loop.system_) && !isOpen(loop.session_)) {
            sd_event_exit(loop.event_, 0);
        }
        return 0;
    }

    static int onPrepareForSleep(sd_bus_message* m, void* userdata, sd_bus_error*) {
        int sleeping = 0;
        if (sd_bus_message_read(m, "b", &sleeping) >= 0) {
            of(userdata).report_(sleeping ? WorkspaceEvent::willSleep : WorkspaceEvent::didWake);
        }
        return 0;
    }

    static int onSessionLock(sd_bus_message*, void* userdata, sd_bus_error*) {
        of(userdata).setLocked(true);
        return 0;
    }

    static int onSessionUnlock(sd_bus_message*, void* userdata, sd_bus_error*) {
        of(userdata).setLocked(false);
        return 0;
    }

    static int onActiveChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
        int active = 0;
        if (sd_bus_message_read(m, "b", &active) >= 0) {
            of(userdata).setLocked(active != 0);
        }
        return 0;
    }

    static int onPropertiesChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
        if (auto hint = lockedHint(m)) {
            of(userdata).setLocked(*hint);
        }
        return 0;
    }

    // LockedHint from a PropertiesChanged(s interface, a{sv} changed, as invalidated) of the
    // session; nullopt when absent or when the message is not shaped as it should be.
    static std::optional<bool> lockedHint(sd_bus_message* m) {
        const char* interface = nullptr;
        if (sd_bus_message_read(m, "s", &interface) < 0 ||
            std::strcmp(interface, sessionInterface) != 0 ||
            sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sv}") <= 0) {
            return std::nullopt;
        }
        std::optional<bool> hint;
        int r = 0;
        while ((r = sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sv")) > 0) {
            const char* name = nullptr;
            if (sd_bus_message_read(m, "s", &name) < 0) {
                return std::nullopt;
            }
            if (std::strcmp(name, "LockedHint") == 0) {
                int value = 0;
                if (sd_bus_message_read(m, "v", "b", &value) < 0) {
                    return std::nullopt;
                }
                hint = value != 0;
            } else if (sd_bus_message_skip(m, "v") < 0) {
                return std::nullopt;
            }
            if (sd_bus_message_exit_container(m) < 0) {
                return std::nullopt;
            }
        }
        return r < 0 ? std::nullopt : hint;
    }

    const SessionWatcher::Report& report_;
    const std::function<void()>& watching_;
    sd_event* event_;
    BusLink system_;
    BusLink session_;
    Lookup lookup_ = Lookup::byPid;
    std::optional<std::string> lookupError_; // the first failed lookup tells the most
    int pending_ = 0;                        // set-up steps still waiting for an answer
    bool setUp_ = false;
    bool announced_ = false;
    bool locked_ = false;
};

int onWake(sd_event_source* source, int, std::uint32_t, void*) {
    sd_event_exit(sd_event_source_get_event(source), 0);
    return 0;
}

} // namespace

SessionWatcher::SessionWatcher(Report report, std::function<void()> watching)
    : report_(std::move(report)), watching_(std::move(watching)) {
    if (auto problem = startWithWakeUp(thread_, wakeFd_, [this] { run(); })) {
        logInfo("sleep and screen lock are not watched: " + *problem);
    }
}

SessionWatcher::~SessionWatcher() {
    wakeJoinAndClose(thread_, wakeFd_);
}

void SessionWatcher::run() {
    sd_event* event = nullptr;
    int r = sd_event_new(&event);
    if (r >= 0) {
        r = sd_event_add_io(event, nullptr, wakeFd_, EPOLLIN, &onWake, nullptr);
    }
    if (r < 0) {
        logInfo("sleep and screen lock are not watched: " + errnoText(r));
        sd_event_unref(event);
        return;
    }
    {
        Loop loop(report_, watching_, event);
        loop.start();
        if (loop.anyOpen()) {
            r = sd_event_loop(event);
            if (r < 0) {
                logInfo("sleep and screen lock are no longer watched: " + errnoText(r));
            }
        }
    }
    sd_event_unref(event);
}

} // namespace orvane::linuxbackend
