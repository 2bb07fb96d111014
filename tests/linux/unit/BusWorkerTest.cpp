#include "SessionBusTestSupport.hpp"

#include "backends/linux/dbus/BusConnection.hpp"
#include "backends/linux/dbus/BusTimer.hpp"
#include "backends/linux/dbus/BusWorker.hpp"

#include "orvane/platform/Platform.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>

namespace orvane::linuxbackend::test {
namespace {

// Lines told from a worker's thread, for the test's thread to wait on.
class Told {
public:
    void tell(std::string line) {
        {
            std::lock_guard lock(mutex_);
            lines_.push_back(std::move(line));
        }
        changed_.notify_all();
    }
    // Waits until `count` lines have come; the lines then, whatever their number.
    std::vector<std::string> waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, busTimeout, [&] { return lines_.size() >= count; });
        return lines_;
    }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
};

std::string describe(const NameOwner& owner) {
    return (owner.first ? "first " : "change ") + owner.name + " " +
           (owner.after.empty() ? "-" : "owned") + (owner.before.empty() ? "" : " was owned");
}

TEST(BusWorker, RunsPostedTasksOnItsThreadInOrderAndNoneOnceStopped) {
    BusWorker worker("tasks are not run");
    Told told;
    std::thread::id workerThread;
    ASSERT_TRUE(worker.start([&](BusLoop& loop) {
        workerThread = std::this_thread::get_id();
        told.tell("running");
        loop.run();
    }));
    ASSERT_EQ(told.waitFor(1).size(), 1u);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(worker.post([&, i] {
            EXPECT_EQ(std::this_thread::get_id(), workerThread);
            told.tell("task " + std::to_string(i));
        }));
    }
    EXPECT_EQ(told.waitFor(4), (std::vector<std::string>{"running", "task 0", "task 1", "task 2"}));
    worker.stop();
    EXPECT_FALSE(worker.isRunning());
    EXPECT_FALSE(worker.post([&] { told.tell("late"); }));
    EXPECT_EQ(told.lines().size(), 4u);
}

TEST(BusWorker, FollowsOwnersFirstAsTheBusAnswersThenEveryChange) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
    ScopedEnvironment environment;
    environment.set("DBUS_SESSION_BUS_ADDRESS", bus.address());
    auto present = std::make_unique<BusClient>(bus.address());
    ASSERT_TRUE(present->own("net.orvane.Present"));

    Told told;
    BusWorker worker("owners are not followed");
    ASSERT_TRUE(worker.start([&](BusLoop& loop) {
        BusConnection connection(loop, BusKind::session, [] {});
        ASSERT_TRUE(connection.opened());
        connection.followOwners({"net.orvane.Absent", "net.orvane.Present"},
                                [&](const NameOwner& owner) { told.tell(describe(owner)); });
        loop.run();
    }));
    ASSERT_EQ(told.waitFor(2), (std::vector<std::string>{"first net.orvane.Absent -",
                                                         "first net.orvane.Present owned"}));

    // Each change is told with the owner before it; a name nobody follows is not told.
    BusClient comer(bus.address());
    ASSERT_TRUE(comer.own("net.orvane.Elsewhere"));
    ASSERT_TRUE(comer.own("net.orvane.Absent"));
    present.reset();
    EXPECT_EQ(told.waitFor(4), (std::vector<std::string>{"first net.orvane.Absent -",
                                                         "first net.orvane.Present owned",
                                                         "change net.orvane.Absent owned",
                                                         "change net.orvane.Present - was owned"}));
}

// A peer that takes calls and never answers them.
class SilentPeer {
public:
    explicit SilentPeer(const std::string& address) : client_(address) {
        ready_ = client_.isConnected() &&
                 sd_bus_add_object(client_.bus(), &slot_, "/net/orvane/Silent", &SilentPeer::take,
                                   this) >= 0 &&
                 client_.own("net.orvane.Silent");
    }
    ~SilentPeer() {
        for (auto* call : calls_) {
            sd_bus_message_unref(call);
        }
        sd_bus_slot_unref(slot_);
    }
    bool isReady() const { return ready_; }
    bool serveUntilCalls(std::size_t count) {
        return client_.serveUntil([&] { return calls_.size() >= count; });
    }

private:
    static int take(sd_bus_message* m, void* userdata, sd_bus_error*) {
        static_cast<SilentPeer*>(userdata)->calls_.push_back(sd_bus_message_ref(m));
        return 1; // answered never
    }

    BusClient client_;
    sd_bus_slot* slot_ = nullptr;
    std::vector<sd_bus_message*> calls_;
    bool ready_ = false;
};

TEST(BusWorker, BoundsEachCallAndDropsTheUnansweredOnesWhenItStops) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
    ScopedEnvironment environment;
    environment.set("DBUS_SESSION_BUS_ADDRESS", bus.address());
    SilentPeer peer(bus.address());
    ASSERT_TRUE(peer.isReady());

    Told told;
    auto worker = std::make_unique<BusWorker>("calls are not made");
    ASSERT_TRUE(worker->start([&](BusLoop& loop) {
        BusConnection connection(loop, BusKind::session, [] {});
        sd_bus_slot* held = nullptr;
        const auto ask = [&](std::uint64_t timeout, const char* what, sd_bus_slot** slot) {
            return connection.callAsync(
                connection.newCall("net.orvane.Silent", "/net/orvane/Silent", "net.orvane.Silent",
                                   "Wait"),
                timeout,
                [&, what](sd_bus_message* m) {
                    // Held calls drop their own slot in their answer, as the clients do.
                    if (std::string(what) == "held") {
                        held = sd_bus_slot_unref(held);
                    }
                    told.tell(std::string(what) + (sd_bus_message_is_method_error(m, nullptr)
                                                       ? " timed out"
                                                       : " answered"));
                },
                slot);
        };
        EXPECT_TRUE(ask(50'000, "held", &held));
        EXPECT_TRUE(ask(50'000, "floating", nullptr));
        // Never answered in the test's life: it goes with the connection, untold.
        EXPECT_TRUE(ask(0, "waiting", nullptr));
        loop.run();
    }));
    ASSERT_TRUE(peer.serveUntilCalls(3));
    auto lines = told.waitFor(2);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"floating timed out", "held timed out"}));
    worker.reset(); // returns at once, the third call still waiting
    EXPECT_EQ(told.lines().size(), 2u);
}

TEST(BusWorker, TellsALostConnectionOnceAndAMissingBusWithoutOpeningIt) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
    ScopedEnvironment environment;
    environment.set("DBUS_SESSION_BUS_ADDRESS", bus.address());
    environment.set("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/orvane-system-bus");

    Told told;
    BusWorker worker("buses are not watched");
    ASSERT_TRUE(worker.start([&](BusLoop& loop) {
        BusConnection session(loop, BusKind::session, [&] {
            told.tell("session lost");
            loop.exit();
        });
        BusConnection system(loop, BusKind::system, [&] { told.tell("system lost"); });
        told.tell(std::string("session ") + (session.opened() ? "opened" : "missing"));
        told.tell(std::string("system ") + (system.opened() ? "opened" : "missing") +
                  (system.openError() < 0 ? " with an error" : ""));
        loop.run();
        told.tell("ended");
    }));
    ASSERT_EQ(told.waitFor(2).size(), 2u);
    bus.stop();
    EXPECT_EQ(told.waitFor(4),
              (std::vector<std::string>{"session opened", "system missing with an error",
                                        "session lost", "ended"}));
}

TEST(BusWorker, ATimerFiresUntilCancelledEvenFromItsOwnCallAndOnceWhenSoArmed) {
    Told told;
    BusWorker worker("timers do not run");
    ASSERT_TRUE(worker.start([&](BusLoop& loop) {
        int ticks = 0;
        BusTimer once(loop, [&] {
            told.tell(once.isArmed() ? "once, still armed" : "once");
            loop.exit();
        });
        BusTimer repeating(loop, [&] {
            told.tell("tick");
            if (++ticks == 3) {
                repeating.cancel();
                told.tell(repeating.isArmed() ? "armed" : "disarmed");
                once.once(1'000);
            }
        });
        repeating.every(1'000);
        loop.run();
    }));
    EXPECT_EQ(told.waitFor(5),
              (std::vector<std::string>{"tick", "tick", "tick", "disarmed", "once"}));
}

} // namespace
} // namespace orvane::linuxbackend::test
