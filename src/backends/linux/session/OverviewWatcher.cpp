#include "backends/linux/session/OverviewWatcher.hpp"

#include "backends/linux/WorkerWakeUp.hpp"
#include "orvane/platform/Platform.hpp"

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <system_error>

namespace orvane::linuxbackend {
namespace {

constexpr const char* shellName = "org.gnome.Shell";
constexpr const char* shellPath = "/org/gnome/Shell";
constexpr const char* kwinName = "org.kde.KWin";
constexpr const char* kwinPath = "/Effects";
constexpr const char* kwinInterface = "org.kde.kwin.Effects";
constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";
// A shell that does not answer within this is taken to show nothing until it does.
constexpr std::uint64_t callTimeoutMicroseconds = 1'000'000;

void logInfo(const std::string& text) {
    if (auto sink = currentLogSink()) {
        sink->write(LogLevel::info, kApplicationIdentifier, "core", text);
    }
}

// A boolean inside the variant at the read position; nullopt when it is something else.
std::optional<bool> readBooleanVariant(sd_bus_message* m) {
    int value = 0;
    if (sd_bus_message_read(m, "v", "b", &value) < 0) {
        return std::nullopt;
    }
    return value != 0;
}

// Whether any name in the string array inside the variant at the read position is one of
// KWin's overview effects; nullopt when the variant holds something else.
std::optional<bool> readsOverviewEffect(sd_bus_message* m) {
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_VARIANT, "as") <= 0) {
        return std::nullopt;
    }
    char** names = nullptr;
    if (sd_bus_message_read_strv(m, &names) < 0) {
        return std::nullopt;
    }
    bool overview = false;
    for (char** name = names; name && *name; ++name) {
        overview = overview || OverviewWatcher::kwinOverviewEffects().contains(*name);
        std::free(*name);
    }
    std::free(names);
    return overview;
}

} // namespace

// The watcher thread's state: the connection, what each shell last said and the poll timer.
// Created, used and destroyed on that thread only.
class OverviewLoop {
public:
    OverviewLoop(OverviewWatcher& watcher, sd_event* event) : watcher_(watcher), event_(event) {}

    ~OverviewLoop() {
        sd_event_source_unref(poll_);
        // Floating slots and pending calls go with the connection, never called back.
        bus_ = sd_bus_close_unref(bus_);
    }

    OverviewLoop(const OverviewLoop&) = delete;
    OverviewLoop& operator=(const OverviewLoop&) = delete;

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
                                    "Disconnected", &OverviewLoop::onDisconnected, this);
        }
        if (r < 0) {
            bus_ = sd_bus_close_unref(bus_);
            logInfo(std::string("session bus unavailable (") + std::strerror(-r) +
                    "): the desktop's overview is not watched");
            return false;
        }
        // The bus daemon takes requests in order: each match is in place before the question
        // that follows it is answered, so no change falls between the two.
        addMatch(std::string("type='signal',sender='") + shellName + "',path='" + shellPath +
                     "',interface='" + propertiesInterface + "',member='PropertiesChanged',arg0='" +
                     shellName + "'",
                 &OverviewLoop::onShellProperties);
        for (const char* name : {shellName, kwinName}) {
            addMatch(std::string("type='signal',sender='org.freedesktop.DBus',path='/org/"
                                 "freedesktop/DBus',interface='org.freedesktop.DBus',member='"
                                 "NameOwnerChanged',arg0='") +
                         name + "'",
                     &OverviewLoop::onNameOwnerChanged);
        }
        askShell();
        ++pending_;
        r = sd_bus_call_method_async(bus_, nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                     "org.freedesktop.DBus", "NameHasOwner",
                                     &OverviewLoop::onKWinOwned, this, "s", kwinName);
        if (r < 0) {
            --pending_;
        }
        r = sd_event_add_time_relative(event_, &poll_, CLOCK_MONOTONIC, pollMicroseconds(), 0,
                                       &OverviewLoop::onPollTime, this);
        if (r < 0) {
            logInfo(std::string("KWin's overview is not watched: ") + std::strerror(-r));
        }
        setUp_ = true;
        announceIfSetUp();
        return true;
    }

private:
    static constexpr std::uint64_t pollMicroseconds() {
        return std::uint64_t{OverviewWatcher::kwinPollMilliseconds} * 1000;
    }

    void addMatch(const std::string& match, sd_bus_message_handler_t handler) {
        const int r = sd_bus_add_match_async(bus_, nullptr, match.c_str(), handler,
                                             &OverviewLoop::onStepDone, this);
        if (r < 0) {
            logInfo("cannot watch " + match + " (" + std::strerror(-r) + ")");
            return;
        }
        ++pending_;
    }

    bool getProperty(const char* service, const char* path, const char* interface,
                     const char* property, sd_bus_message_handler_t handler) {
        sd_bus_message* call = nullptr;
        int r =
            sd_bus_message_new_method_call(bus_, &call, service, path, propertiesInterface, "Get");
        if (r >= 0) {
            r = sd_bus_message_append(call, "ss", interface, property);
        }
        if (r >= 0) {
            r = sd_bus_call_async(bus_, nullptr, call, handler, this, callTimeoutMicroseconds);
        }
        sd_bus_message_unref(call);
        return r >= 0;
    }

    void askShell() {
        if (getProperty(shellName, shellPath, shellName, "OverviewActive",
                        &OverviewLoop::onShellAnswer)) {
            ++pending_;
        }
    }

    // Outside the set-up: its answer announces nothing.
    void askShellLater() {
        getProperty(shellName, shellPath, shellName, "OverviewActive",
                    &OverviewLoop::onLateShellAnswer);
    }

    void askKWin() {
        if (!kwinPresent_ || kwinAsked_) {
            return;
        }
        kwinAsked_ = getProperty(kwinName, kwinPath, kwinInterface, "activeEffects",
                                 &OverviewLoop::onKWinAnswer);
    }

    void finishStep() {
        --pending_;
        announceIfSetUp();
    }

    void announceIfSetUp() {
        if (setUp_ && pending_ == 0 && !announced_) {
            announced_ = true;
            if (watcher_.watching_) {
                watcher_.watching_();
            }
        }
    }

    static OverviewLoop& of(void* userdata) { return *static_cast<OverviewLoop*>(userdata); }

    static int onStepDone(sd_bus_message* m, void* userdata, sd_bus_error*) {
        if (sd_bus_message_is_method_error(m, nullptr)) {
            const sd_bus_error* error = sd_bus_message_get_error(m);
            logInfo(std::string("a D-Bus match was refused (") +
                    (error && error->name ? error->name : "no answer") + ")");
        }
        of(userdata).finishStep();
        return 0;
    }

    // A shell that cannot tell (not running, no such property) shows no overview.
    static int onShellAnswer(sd_bus_message* m, void* userdata, sd_bus_error*) {
        OverviewLoop& loop = of(userdata);
        std::optional<bool> active;
        if (!sd_bus_message_is_method_error(m, nullptr)) {
            active = readBooleanVariant(m);
        }
        loop.watcher_.set(loop.watcher_.gnome_, active.value_or(false));
        loop.finishStep();
        return 0;
    }

    static int onShellProperties(sd_bus_message* m, void* userdata, sd_bus_error*) {
        OverviewLoop& loop = of(userdata);
        const char* interface = nullptr;
        if (sd_bus_message_read(m, "s", &interface) < 0 ||
            sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sv}") <= 0) {
            return 0;
        }
        while (sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
            const char* name = nullptr;
            if (sd_bus_message_read(m, "s", &name) < 0) {
                return 0;
            }
            if (std::strcmp(name, "OverviewActive") == 0) {
                if (auto active = readBooleanVariant(m)) {
                    loop.watcher_.set(loop.watcher_.gnome_, *active);
                }
            } else if (sd_bus_message_skip(m, "v") < 0) {
                return 0;
            }
            if (sd_bus_message_exit_container(m) < 0) {
                return 0;
            }
        }
        if (sd_bus_message_exit_container(m) < 0) {
            return 0;
        }
        // Changed without its value: ask for it.
        char** invalidated = nullptr;
        if (sd_bus_message_read_strv(m, &invalidated) >= 0) {
            bool ask = false;
            for (char** name = invalidated; name && *name; ++name) {
                ask = ask || std::strcmp(*name, "OverviewActive") == 0;
                std::free(*name);
            }
            std::free(invalidated);
            if (ask) {
                loop.askShellLater();
            }
        }
        return 0;
    }

    static int onLateShellAnswer(sd_bus_message* m, void* userdata, sd_bus_error*) {
        OverviewLoop& loop = of(userdata);
        if (!sd_bus_message_is_method_error(m, nullptr)) {
            loop.watcher_.set(loop.watcher_.gnome_, readBooleanVariant(m).value_or(false));
        }
        return 0;
    }

    static int onNameOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
        OverviewLoop& loop = of(userdata);
        const char* name = nullptr;
        const char* before = nullptr;
        const char* after = nullptr;
        if (sd_bus_message_read(m, "sss", &name, &before, &after) < 0) {
            return 0;
        }
        const bool owned = after != nullptr && *after != '\0';
        if (std::strcmp(name, shellName) == 0) {
            loop.watcher_.set(loop.watcher_.gnome_, false);
            if (owned) {
                loop.askShellLater(); // a shell that came (back) may start in its overview
            }
        } else if (std::strcmp(name, kwinName) == 0) {
            loop.kwinPresent_ = owned;
            if (!owned) {
                loop.watcher_.set(loop.watcher_.kwin_, false);
            }
            loop.askKWin();
        }
        return 0;
    }

    static int onKWinOwned(sd_bus_message* m, void* userdata, sd_bus_error*) {
        OverviewLoop& loop = of(userdata);
        int owned = 0;
        if (!sd_bus_message_is_method_error(m, nullptr) &&
            sd_bus_message_read(m, "b", &owned) >= 0) {
            loop.kwinPresent_ = owned != 0;
            loop.askKWin();
        }
        loop.finishStep();
        return 0;
    }

    static int onKWinAnswer(sd_bus_message* m, void* userdata, sd_bus_error*) {
        OverviewLoop& loop = of(userdata);
        loop.kwinAsked_ = false;
        std::optional<bool> overview;
        if (!sd_bus_message_is_method_error(m, nullptr)) {
            overview = readsOverviewEffect(m);
        }
        // KWin gone meanwhile is told by its name; an answer that cannot be read shows nothing.
        loop.watcher_.set(loop.watcher_.kwin_, loop.kwinPresent_ && overview.value_or(false));
        return 0;
    }

    static int onPollTime(sd_event_source* source, std::uint64_t, void* userdata) {
        of(userdata).askKWin();
        sd_event_source_set_time_relative(source, pollMicroseconds());
        sd_event_source_set_enabled(source, SD_EVENT_ONESHOT);
        return 0;
    }

    static int onDisconnected(sd_bus_message*, void* userdata, sd_bus_error*) {
        OverviewLoop& loop = of(userdata);
        logInfo("session bus connection lost: the desktop's overview is no longer watched");
        loop.watcher_.set(loop.watcher_.gnome_, false);
        loop.watcher_.set(loop.watcher_.kwin_, false);
        sd_event_exit(loop.event_, 0);
        return 0;
    }

    OverviewWatcher& watcher_;
    sd_event* event_;
    sd_bus* bus_ = nullptr;
    sd_event_source* poll_ = nullptr;
    int pending_ = 0; // set-up steps still waiting for an answer
    bool setUp_ = false;
    bool announced_ = false;
    bool kwinPresent_ = false;
    bool kwinAsked_ = false; // a read of KWin's effects is on its way
};

namespace {

int onWake(sd_event_source* source, int, std::uint32_t, void*) {
    sd_event_exit(sd_event_source_get_event(source), 0);
    return 0;
}

} // namespace

const std::set<std::string>& OverviewWatcher::kwinOverviewEffects() {
    // Overview (with its grid), present windows (windowview, formerly presentwindows), and the
    // older desktop grid.
    static const std::set<std::string> names{"overview", "windowview", "presentwindows",
                                             "desktopgrid"};
    return names;
}

OverviewWatcher::OverviewWatcher(std::function<void(bool)> changed, std::function<void()> watching)
    : changed_(std::move(changed)), watching_(std::move(watching)) {
    if (auto problem = startWithWakeUp(thread_, wakeFd_, [this] { run(); })) {
        logInfo("the desktop's overview is not watched: " + *problem);
    }
}

OverviewWatcher::~OverviewWatcher() {
    wakeJoinAndClose(thread_, wakeFd_);
}

void OverviewWatcher::set(std::atomic<bool>& flag, bool value) {
    const bool before = isShowing();
    flag.store(value);
    const bool after = isShowing();
    if (before != after && changed_) {
        changed_(after);
    }
}

void OverviewWatcher::run() {
    sd_event* event = nullptr;
    int r = sd_event_new(&event);
    if (r >= 0) {
        r = sd_event_add_io(event, nullptr, wakeFd_, EPOLLIN, &onWake, nullptr);
    }
    if (r < 0) {
        logInfo(std::string("the desktop's overview is not watched: ") + std::strerror(-r));
        sd_event_unref(event);
        return;
    }
    {
        OverviewLoop loop(*this, event);
        if (loop.start()) {
            r = sd_event_loop(event);
            if (r < 0) {
                logInfo(std::string("the desktop's overview is no longer watched: ") +
                        std::strerror(-r));
            }
        }
    }
    sd_event_unref(event);
}

} // namespace orvane::linuxbackend
