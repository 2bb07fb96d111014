#include "SessionBusTestSupport.hpp"

#include "backends/linux/session/OverviewWatcher.hpp"

#include "orvane/platform/Platform.hpp"

#include <gtest/gtest.h>

#include <memory>

namespace orvane::linuxbackend::test {
namespace {

// What a watcher tells, from its thread, for the test thread to wait on.
class Changes {
public:
    std::function<void(bool)> changed() {
        return [this](bool showing) {
            {
                std::lock_guard lock(mutex_);
                values_.push_back(showing);
            }
            signal_.notify_all();
        };
    }
    std::function<void()> watching() {
        return [this] {
            {
                std::lock_guard lock(mutex_);
                watching_ = true;
            }
            signal_.notify_all();
        };
    }
    bool waitUntilWatching() {
        std::unique_lock lock(mutex_);
        return signal_.wait_for(lock, busTimeout, [&] { return watching_; });
    }
    std::size_t count() {
        std::lock_guard lock(mutex_);
        return values_.size();
    }
    // Waits until `count` changes have come; the changes then, whatever their number.
    std::vector<bool> waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        signal_.wait_for(lock, busTimeout, [&] { return values_.size() >= count; });
        return values_;
    }

private:
    std::mutex mutex_;
    std::condition_variable signal_;
    std::vector<bool> values_;
    bool watching_ = false;
};

// Plays GNOME Shell: owns its name and offers OverviewActive, announcing every change.
class FakeShell {
public:
    explicit FakeShell(const std::string& address, bool active)
        : client_(address), active_(active) {
        ready_ = client_.isConnected() &&
                 sd_bus_add_object_vtable(client_.bus(), &slot_, "/org/gnome/Shell",
                                          "org.gnome.Shell", vtable, this) >= 0 &&
                 client_.own("org.gnome.Shell");
    }
    ~FakeShell() { sd_bus_slot_unref(slot_); }

    bool isReady() const { return ready_; }
    BusClient& client() { return client_; }
    int reads() const { return reads_; }
    bool setActive(bool active) {
        active_ = active;
        return sd_bus_emit_properties_changed(client_.bus(), "/org/gnome/Shell", "org.gnome.Shell",
                                              "OverviewActive", nullptr) >= 0 &&
               sd_bus_flush(client_.bus()) >= 0;
    }

private:
    static int get(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                   void* userdata, sd_bus_error*) {
        auto& self = *static_cast<FakeShell*>(userdata);
        ++self.reads_;
        return sd_bus_message_append(reply, "b", int(self.active_));
    }
    static constexpr sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_PROPERTY("OverviewActive", "b", &FakeShell::get, 0,
                        SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
        SD_BUS_VTABLE_END,
    };

    BusClient client_;
    bool active_;
    sd_bus_slot* slot_ = nullptr;
    bool ready_ = false;
    int reads_ = 0;
};

// Plays KWin's effects: owns org.kde.KWin and lists its active effects, announcing nothing.
class FakeKWin {
public:
    FakeKWin(const std::string& address, std::vector<std::string> active)
        : client_(address), active_(std::move(active)) {
        ready_ = client_.isConnected() &&
                 sd_bus_add_object_vtable(client_.bus(), &slot_, "/Effects", "org.kde.kwin.Effects",
                                          vtable, this) >= 0 &&
                 client_.own("org.kde.KWin");
    }
    ~FakeKWin() { sd_bus_slot_unref(slot_); }

    bool isReady() const { return ready_; }
    BusClient& client() { return client_; }
    int reads() const { return reads_; }
    void setActive(std::vector<std::string> active) { active_ = std::move(active); }

private:
    static int get(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                   void* userdata, sd_bus_error*) {
        auto& self = *static_cast<FakeKWin*>(userdata);
        ++self.reads_;
        std::vector<const char*> names;
        for (const auto& name : self.active_) {
            names.push_back(name.c_str());
        }
        names.push_back(nullptr);
        return sd_bus_message_append_strv(reply, const_cast<char**>(names.data()));
    }
    static constexpr sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_PROPERTY("activeEffects", "as", &FakeKWin::get, 0, 0),
        SD_BUS_VTABLE_END,
    };

    BusClient client_;
    std::vector<std::string> active_;
    sd_bus_slot* slot_ = nullptr;
    bool ready_ = false;
    int reads_ = 0;
};

TEST(OverviewWatcher, FollowsGnomeShellsOverviewAsItAnnouncesIt) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
    ScopedEnvironment environment;
    environment.set("DBUS_SESSION_BUS_ADDRESS", bus.address());
    auto shell = std::make_unique<FakeShell>(bus.address(), true); // starts in its overview
    ASSERT_TRUE(shell->isReady());
    BusClient other(bus.address());
    ASSERT_TRUE(other.isConnected());

    Changes changes;
    OverviewWatcher watcher(changes.changed(), changes.watching());
    ASSERT_TRUE(shell->client().serveUntil([&] { return shell->reads() >= 1; }));
    ASSERT_TRUE(changes.waitUntilWatching());
    EXPECT_TRUE(watcher.isShowing());
    EXPECT_EQ(changes.waitFor(1), std::vector<bool>{true});

    ASSERT_TRUE(shell->setActive(false));
    ASSERT_EQ(changes.waitFor(2).back(), false);
    EXPECT_FALSE(watcher.isShowing());
    // A client that only claims the shell's path is not believed: the shell's own announcements
    // after it make the one change.
    ASSERT_TRUE(sd_bus_emit_signal(other.bus(), "/org/gnome/Shell",
                                   "org.freedesktop.DBus.Properties", "PropertiesChanged",
                                   "sa{sv}as", "org.gnome.Shell", 1, "OverviewActive", "b", 1,
                                   0) >= 0);
    ASSERT_TRUE(other.sync());
    ASSERT_TRUE(shell->setActive(false));
    ASSERT_TRUE(shell->setActive(true));
    ASSERT_EQ(changes.waitFor(3), (std::vector<bool>{true, false, true}));

    // The shell leaving the bus (a crash, a restart) takes its overview with it.
    shell.reset();
    EXPECT_EQ(changes.waitFor(4), (std::vector<bool>{true, false, true, false}));
    EXPECT_FALSE(watcher.isShowing());
}

TEST(OverviewWatcher, ReadsKWinsActiveEffectsForItsOverviewsWhileKWinIsThere) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
    ScopedEnvironment environment;
    environment.set("DBUS_SESSION_BUS_ADDRESS", bus.address());

    Changes changes;
    OverviewWatcher watcher(changes.changed(), changes.watching());
    ASSERT_TRUE(changes.waitUntilWatching()); // no shell at all: nothing showing
    EXPECT_FALSE(watcher.isShowing());

    // KWin coming later is found by its name; effects that are no overview show nothing.
    auto kwin =
        std::make_unique<FakeKWin>(bus.address(), std::vector<std::string>{"blur", "slide"});
    ASSERT_TRUE(kwin->isReady());
    ASSERT_TRUE(kwin->client().serveUntil([&] { return kwin->reads() >= 2; }));
    EXPECT_EQ(changes.count(), 0u);

    // Every name that shows all windows to pick from, on X11 as on Wayland.
    for (const char* overview :
         {"overview", "windowview", "presentwindows", "desktopgrid", "expo"}) {
        SCOPED_TRACE(overview);
        const std::size_t before = changes.count();
        kwin->setActive({"blur", overview});
        ASSERT_TRUE(kwin->client().serveUntil([&] { return changes.count() > before; }));
        EXPECT_TRUE(watcher.isShowing());
        kwin->setActive({"blur"});
        ASSERT_TRUE(kwin->client().serveUntil([&] { return changes.count() > before + 1; }));
        EXPECT_FALSE(watcher.isShowing());
    }

    kwin->setActive({"overview"});
    ASSERT_TRUE(kwin->client().serveUntil([&] { return changes.count() == 11; }));
    kwin.reset(); // KWin gone while its overview showed
    EXPECT_EQ(changes.waitFor(12), (std::vector<bool>{true, false, true, false, true, false, true,
                                                      false, true, false, true, false}));
    EXPECT_FALSE(watcher.isShowing());
}

TEST(OverviewWatcher, WithoutASessionBusNothingShowsAndOneLineSaysSo) {
    LogCapture log;
    ScopedEnvironment environment;
    environment.set("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/orvane-bus");

    OverviewWatcher watcher;
    EXPECT_TRUE(log.sink->waitForLine(LogLevel::info, "the desktop's overview is not watched"));
    EXPECT_FALSE(watcher.isShowing());
    EXPECT_EQ(log.sink->lines(LogLevel::info).size(), 1u);
}

} // namespace
} // namespace orvane::linuxbackend::test
