#include "backends/linux/session/OverviewWatcher.hpp"

#include "backends/linux/BackendLog.hpp"
#include "backends/linux/dbus/BusConnection.hpp"
#include "backends/linux/session/KWinEffectsPoll.hpp"

#include <systemd/sd-bus.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace orvane::linuxbackend {
namespace {

constexpr const char* shellName = "org.gnome.Shell";
constexpr const char* shellPath = "/org/gnome/Shell";
constexpr const char* kwinName = "org.kde.KWin";
constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";
// A shell that does not answer within this is taken to show nothing until it does.
constexpr std::uint64_t callTimeoutMicroseconds = 1'000'000;

// A boolean inside the variant at the read position; nullopt when it is something else.
std::optional<bool> readBooleanVariant(sd_bus_message* m) {
    int value = 0;
    if (sd_bus_message_read(m, "v", "b", &value) < 0) {
        return std::nullopt;
    }
    return value != 0;
}

bool isError(sd_bus_message* m) {
    return sd_bus_message_is_method_error(m, nullptr) != 0;
}

} // namespace

// The watcher thread's state: the connection, what each shell last said and the poll timer.
// Created, used and destroyed on that thread only.
class OverviewLoop {
public:
    OverviewLoop(OverviewWatcher& watcher, BusLoop& loop)
        : watcher_(watcher), loop_(loop), bus_(loop, BusKind::session, [this] { lost(); }),
          effects_(bus_, loop, [this](std::optional<bool> overview) {
              // An answer that cannot be read shows nothing.
              watcher_.set(watcher_.kwin_, overview.value_or(false));
          }) {}

    OverviewLoop(const OverviewLoop&) = delete;
    OverviewLoop& operator=(const OverviewLoop&) = delete;

    bool start() {
        if (!bus_.opened()) {
            logInfo(std::string("session bus unavailable (") + std::strerror(-bus_.openError()) +
                    "): the desktop's overview is not watched");
            return false;
        }
        // The bus daemon takes requests in order: each match is in place before the question
        // that follows it is answered, so no change falls between the two.
        if (bus_.addMatch(
                std::string("type='signal',sender='") + shellName + "',path='" + shellPath +
                    "',interface='" + propertiesInterface + "',member='PropertiesChanged',arg0='" +
                    shellName + "'",
                [this](sd_bus_message* m) { onShellProperties(m); }, [this] { finishStep(); })) {
            ++pending_;
        }
        // The owners' first answers are set-up steps too.
        pending_ += 2;
        bus_.followOwners({shellName, kwinName},
                          [this](const NameOwner& owner) { onOwner(owner); });
        askShell(true);
        setUp_ = true;
        announceIfSetUp();
        return true;
    }

private:
    // During the set-up its answer is a step; later it announces nothing.
    void askShell(bool step) {
        const bool asked =
            bus_.getProperty(shellName, shellPath, shellName, "OverviewActive",
                             callTimeoutMicroseconds, [this, step](sd_bus_message* m) {
                                 // A shell that cannot tell (not running, no such property) shows
                                 // no overview.
                                 if (step || !isError(m)) {
                                     const auto active =
                                         isError(m) ? std::nullopt : readBooleanVariant(m);
                                     watcher_.set(watcher_.gnome_, active.value_or(false));
                                 }
                                 if (step) {
                                     finishStep();
                                 }
                             });
        if (asked && step) {
            ++pending_;
        }
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

    void onShellProperties(sd_bus_message* m) {
        const char* interface = nullptr;
        if (sd_bus_message_read(m, "s", &interface) < 0 ||
            sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sv}") <= 0) {
            return;
        }
        while (sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
            const char* name = nullptr;
            if (sd_bus_message_read(m, "s", &name) < 0) {
                return;
            }
            if (std::strcmp(name, "OverviewActive") == 0) {
                if (auto active = readBooleanVariant(m)) {
                    watcher_.set(watcher_.gnome_, *active);
                }
            } else if (sd_bus_message_skip(m, "v") < 0) {
                return;
            }
            if (sd_bus_message_exit_container(m) < 0) {
                return;
            }
        }
        if (sd_bus_message_exit_container(m) < 0) {
            return;
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
                askShell(false);
            }
        }
    }

    void onOwner(const NameOwner& owner) {
        const bool owned = !owner.after.empty();
        if (owner.name == shellName) {
            // The shell's first answer is the property's; a shell that came (back) may start
            // in its overview, and one that went takes it along.
            if (!owner.first) {
                watcher_.set(watcher_.gnome_, false);
                if (owned) {
                    askShell(false);
                }
            }
        } else if (owned) {
            effects_.start();
        } else {
            effects_.stop(); // a read on its way would tell of the KWin that went
            watcher_.set(watcher_.kwin_, false);
        }
        if (owner.first) {
            finishStep();
        }
    }

    void lost() {
        logInfo("session bus connection lost: the desktop's overview is no longer watched");
        watcher_.set(watcher_.gnome_, false);
        watcher_.set(watcher_.kwin_, false);
        loop_.exit();
    }

    OverviewWatcher& watcher_;
    BusLoop& loop_;
    BusConnection bus_;
    KWinEffectsPoll effects_;
    int pending_ = 0; // set-up steps still waiting for an answer
    bool setUp_ = false;
    bool announced_ = false;
};

const std::set<std::string>& OverviewWatcher::kwinOverviewEffects() {
    return linuxbackend::kwinOverviewEffects();
}

OverviewWatcher::OverviewWatcher(std::function<void(bool)> changed, std::function<void()> watching)
    : changed_(std::move(changed)), watching_(std::move(watching)) {
    worker_.start([this](BusLoop& loop) {
        OverviewLoop watch(*this, loop);
        if (watch.start()) {
            if (const int r = loop.run(); r < 0) {
                logInfo(std::string("the desktop's overview is no longer watched: ") +
                        std::strerror(-r));
            }
        }
    });
}

OverviewWatcher::~OverviewWatcher() {
    worker_.stop();
}

void OverviewWatcher::set(std::atomic<bool>& flag, bool value) {
    const bool before = isShowing();
    flag.store(value);
    const bool after = isShowing();
    if (before != after && changed_) {
        changed_(after);
    }
}

} // namespace orvane::linuxbackend
