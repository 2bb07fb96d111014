#include "backends/linux/session/SessionWatcher.hpp"

#include "backends/linux/BackendLog.hpp"
#include "backends/linux/dbus/BusConnection.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>

namespace orvane::linuxbackend {
namespace {

constexpr const char* loginService = "org.freedesktop.login1";
constexpr const char* loginPath = "/org/freedesktop/login1";
constexpr const char* managerInterface = "org.freedesktop.login1.Manager";
constexpr const char* sessionInterface = "org.freedesktop.login1.Session";

std::string errnoText(int negativeError) {
    return std::strerror(-negativeError);
}

// The state of the watcher's thread: both connections, the pending set-up steps and the lock
// state. Created, used and destroyed on that thread only.
class Loop {
public:
    Loop(const SessionWatcher::Report& report, const std::function<void()>& watching, BusLoop& loop)
        : report_(report), watching_(watching), loop_(loop),
          system_(loop, BusKind::system, [this] { lost(system_); }),
          session_(loop, BusKind::session, [this] { lost(session_); }) {}

    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

    void start() {
        if (usable(system_, "sleep, wake and the login session's lock are not watched")) {
            addSignalMatch(system_, loginService, loginPath, managerInterface, "PrepareForSleep",
                           [this](sd_bus_message* m) { onPrepareForSleep(m); });
            lookUpSession(Lookup::byPid);
        }
        if (usable(session_, "the screen saver's lock is not watched")) {
            for (const char* saver : {"org.freedesktop.ScreenSaver", "org.gnome.ScreenSaver"}) {
                addSignalMatch(session_, nullptr, nullptr, saver, "ActiveChanged",
                               [this](sd_bus_message* m) { onActiveChanged(m); });
            }
        }
        setUp_ = true;
        announceIfSetUp();
    }

    bool anyOpen() const { return system_.isOpen() || session_.isOpen(); }

private:
    enum class Lookup { byPid, automatic, environment, none };

    static bool usable(const BusConnection& bus, const char* consequence) {
        if (!bus.opened()) {
            logInfo(std::string(bus.label()) + " bus unavailable (" + errnoText(bus.openError()) +
                    "): " + consequence);
        }
        return bus.opened();
    }

    static std::string quoted(const char* key, const char* value) {
        return value ? std::string(",") + key + "='" + value + "'" : std::string();
    }

    void addSignalMatch(BusConnection& bus, const char* sender, const char* path,
                        const char* interface, const char* member, BusConnection::Handler handler) {
        addMatch(bus,
                 "type='signal'" + quoted("sender", sender) + quoted("path", path) +
                     quoted("interface", interface) + quoted("member", member),
                 std::move(handler));
    }

    void addMatch(BusConnection& bus, const std::string& match, BusConnection::Handler handler) {
        if (bus.addMatch(match, std::move(handler), [this] { finishStep(); })) {
            ++pending_;
        }
    }

    // This process's login session: by our pid, else logind's own guess for the caller, else
    // the session named in the environment.
    void lookUpSession(Lookup step) {
        const char* member = "GetSession";
        const char* id = "auto";
        switch (step) {
        case Lookup::byPid:
            member = "GetSessionByPID";
            break;
        case Lookup::automatic:
            break;
        case Lookup::environment:
            id = std::getenv("XDG_SESSION_ID");
            if (id == nullptr || *id == '\0') {
                sessionNotFound();
                return;
            }
            break;
        case Lookup::none:
            sessionNotFound();
            return;
        }
        lookup_ = step;
        sd_bus_message* call = system_.newCall(loginService, loginPath, managerInterface, member);
        int r = call ? 0 : -ENOMEM;
        if (call) {
            r = step == Lookup::byPid
                    ? sd_bus_message_append(call, "u", static_cast<std::uint32_t>(getpid()))
                    : sd_bus_message_append(call, "s", id);
        }
        if (r >= 0 && !system_.callAsync(call, 0, [this](sd_bus_message* m) { onSession(m); })) {
            r = -EIO;
            call = nullptr;
        }
        if (r < 0) {
            sd_bus_message_unref(call);
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
        if (system_.isOpen()) {
            logInfo("no login session (" + lookupError_.value_or("none named") +
                    "): lock and unlock are watched through the screen saver only");
        }
    }

    void watchSession(const std::string& path) {
        addSignalMatch(system_, loginService, path.c_str(), sessionInterface, "Lock",
                       [this](sd_bus_message*) { setLocked(true); });
        addSignalMatch(system_, loginService, path.c_str(), sessionInterface, "Unlock",
                       [this](sd_bus_message*) { setLocked(false); });
        // Object paths hold only [A-Za-z0-9_/], so they need no escaping inside the quotes.
        addMatch(system_,
                 std::string("type='signal',sender='") + loginService + "',path='" + path +
                     "',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',"
                     "arg0='" +
                     sessionInterface + "'",
                 [this](sd_bus_message* m) {
                     if (auto hint = lockedHint(m)) {
                         setLocked(*hint);
                     }
                 });
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

    void onSession(sd_bus_message* m) {
        const char* path = nullptr;
        if (sd_bus_message_is_method_error(m, nullptr)) {
            noteLookupError(errorText(sd_bus_message_get_error(m)));
            lookUpSession(next(lookup_));
        } else if (sd_bus_message_read(m, "o", &path) < 0) {
            noteLookupError("an answer that is not an object path");
            lookUpSession(next(lookup_));
        } else {
            watchSession(path);
        }
        finishStep(); // after the next step is pending, so nothing is announced early
    }

    void lost(const BusConnection& bus) {
        logInfo(std::string(bus.label()) +
                " bus connection lost: its sleep and lock signals are no longer watched");
        if (!anyOpen()) {
            loop_.exit();
        }
    }

    void onPrepareForSleep(sd_bus_message* m) {
        int sleeping = 0;
        if (sd_bus_message_read(m, "b", &sleeping) >= 0) {
            report_(sleeping ? WorkspaceEvent::willSleep : WorkspaceEvent::didWake);
        }
    }

    void onActiveChanged(sd_bus_message* m) {
        int active = 0;
        if (sd_bus_message_read(m, "b", &active) >= 0) {
            setLocked(active != 0);
        }
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
    BusLoop& loop_;
    BusConnection system_;
    BusConnection session_;
    Lookup lookup_ = Lookup::byPid;
    std::optional<std::string> lookupError_; // the first failed lookup tells the most
    int pending_ = 0;                        // set-up steps still waiting for an answer
    bool setUp_ = false;
    bool announced_ = false;
    bool locked_ = false;
};

} // namespace

SessionWatcher::SessionWatcher(Report report, std::function<void()> watching)
    : report_(std::move(report)), watching_(std::move(watching)) {
    worker_.start([this](BusLoop& loop) {
        Loop watch(report_, watching_, loop);
        watch.start();
        if (watch.anyOpen()) {
            if (const int r = loop.run(); r < 0) {
                logInfo("sleep and screen lock are no longer watched: " + errnoText(r));
            }
        }
    });
}

SessionWatcher::~SessionWatcher() {
    worker_.stop();
}

} // namespace orvane::linuxbackend
